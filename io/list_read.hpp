#pragma once
// List-directed input of one 32-bit integer from the bytes of a text.
#include <cstdint>
#include <string>

namespace blockeig::io {

// The bytes of the input, one at a time, line feeds included.
class ByteSource {
 public:
  static constexpr int end = -1;
  // The next byte (0 to 255), or `end` when the input is exhausted.
  virtual int next_byte() = 0;

 protected:
  ~ByteSource() = default;
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
// Blanks, tabs, carriage returns and line feeds before the item are skipped,
// across lines. The item is an optionally signed digit string, or a repeat
// count "r*" followed by one (a value) or by a separator or the end of input
// (r null values); "," and "/" are null values. A digit string ends at a
// blank, tab, carriage return, line feed, ",", "/" or the end of input.
// Takes bytes only up to the one that settles the item (the separator after
// it, or the first character that cannot belong to it), so that the length
// of a line costs neither memory nor waiting; skipping the rest of the
// item's line is the caller's.
// Errors, with %d = item_number:
//   "Bad integer for item %d in list input"
//   "Integer overflow while reading item %d"         (magnitude > 2147483647)
//   "Zero repeat count in item %d of list input"
//   "Repeat count overflow in item %d of list input" (r > 200000000)
ListReadResult read_list_integer(ByteSource& source, int item_number);

}  // namespace blockeig::io
