#pragma once
// List-directed input of one 32-bit integer from lines of text.
#include <cstdint>
#include <string>
#include <string_view>

namespace blockeig::io {

// Successive lines of input, without their line ends.
class LineSource {
 public:
  // Sets `line` to the next line and returns true, or returns false when
  // the input is exhausted. The text stays valid until the next call.
  virtual bool next_line(std::string_view& line) = 0;

 protected:
  ~LineSource() = default;
};

// Largest repeat count r of "r*" accepted in list input.
inline constexpr std::int64_t max_list_repeat_count = 200'000'000;

struct ListReadResult {
  enum class Status {
    value,        // `value` holds the integer read
    null,         // a null value: the integer keeps what it had
    end_of_file,  // the input ended before the item
    error,        // `message` holds the text, with the item number filled in
  };
  Status status = Status::null;
  std::int32_t value = 0;
  std::string message;
};

// Reads one integer item of a list-directed read statement from `source`.
// Blanks, tabs, carriage returns and line ends before the item are skipped,
// across lines. The item is an optionally signed digit string, or a repeat
// count "r*" followed by one (a value) or by a separator or the end of input
// (r null values); "," and "/" are null values. A digit string ends at a
// blank, tab, carriage return, ",", "/" or the line's end. The lines read
// are consumed: text after the item on its line is ignored.
// Errors, with %d = item_number:
//   "Bad integer for item %d in list input"
//   "Integer overflow while reading item %d"         (magnitude > 2147483647)
//   "Zero repeat count in item %d of list input"
//   "Repeat count overflow in item %d of list input" (r > 200000000)
ListReadResult read_list_integer(LineSource& source, int item_number);

}  // namespace blockeig::io
