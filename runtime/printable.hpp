#pragma once
// Text from outside the program (a file name, a setting's value, an argument,
// a byte of an input file) as a message shows it. A terminal acts on control
// bytes (ESC starts a sequence that can recolour or retitle it, or hide the
// rest of the line), so every byte of a control character, DEL, a C1 control
// or anything that is not valid UTF-8 is shown as \xNN (\x00, \x1b, \xff);
// other UTF-8 is shown as it is. What is printable already is shown
// unchanged, so showing shown text changes nothing.
#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace blockeig::runtime {

// The most bytes a message gives one echoed value: room for any file name
// people type, short enough that a value meant as something else (a whole
// file in a variable) leaves the message readable.
inline constexpr std::size_t echo_limit = 200;
inline constexpr std::size_t no_limit = std::numeric_limits<std::size_t>::max();

// Writes `text` as shown into `out` and returns the bytes written. When the
// shown form is longer than `limit` bytes, its start and its end are kept and
// "[...N bytes...]" stands for the N bytes of `text` between them, so that
// the result is at most `limit` bytes (a `limit` under 40 keeps the start
// only). The result is also cut, at a character, to `out.size()`. Allocates
// nothing and is safe in a signal handler: reports use it.
std::size_t write_printable(std::string_view text, std::span<char> out, std::size_t limit = no_limit);

// The same as a string.
std::string printable(std::string_view text, std::size_t limit = no_limit);

}  // namespace blockeig::runtime
