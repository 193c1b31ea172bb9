#include "io/list_read.hpp"

#include <cstdio>

namespace blockeig::io {
namespace {

constexpr std::int64_t max_magnitude = 2'147'483'647;
// Digits accumulate up to this ceiling and no further, so that no count and
// no magnitude can wrap; it lies above every limit that is checked.
constexpr std::int64_t digits_ceiling = max_magnitude + 1;
static_assert(max_list_repeat_count < digits_ceiling);

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }

// The cursor over the input: the byte at the cursor has been taken from the
// source, the ones after it not yet.
class ListScanner {
 public:
  explicit ListScanner(ByteSource& source) : source_(source), c_(source.next_byte()) {}

  // Skips blanks, tabs, carriage returns and line feeds, across lines.
  // Returns false when the input ends first.
  bool skip_to_item() {
    while (is_space(c_)) advance();
    return c_ != ByteSource::end;
  }

  // The byte at the cursor, or ByteSource::end.
  int peek() const { return c_; }
  void advance() { c_ = source_.next_byte(); }

  // Reads a digit string (at least one digit at the cursor), saturating at
  // digits_ceiling.
  std::int64_t take_digits() {
    std::int64_t value = 0;
    while (is_digit(c_)) {
      value = value * 10 + (c_ - '0');
      if (value > digits_ceiling) value = digits_ceiling;
      advance();
    }
    return value;
  }

 private:
  ByteSource& source_;
  int c_;
};

bool ends_value(int c) { return is_space(c) || c == ',' || c == '/' || c == ByteSource::end; }

ListReadResult failure(const char* format, int item_number) {
  ListReadResult result;
  result.status = ListReadResult::Status::error;
  char text[80];
  std::snprintf(text, sizeof text, format, item_number);
  result.message = text;
  return result;
}

ListReadResult bad_integer(int item_number) { return failure("Bad integer for item %d in list input", item_number); }

ListReadResult null_value() { return {}; }

// The digits of a value have been read: a separator must follow, and the
// magnitude must fit for either sign.
ListReadResult finish_value(const ListScanner& scan, std::int64_t magnitude, bool negative, int item_number) {
  if (!ends_value(scan.peek())) return bad_integer(item_number);
  if (magnitude > max_magnitude) return failure("Integer overflow while reading item %d", item_number);
  ListReadResult result;
  result.status = ListReadResult::Status::value;
  result.value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return result;
}

// A value: an optional sign, then digits up to a separator.
ListReadResult read_value(ListScanner& scan, int item_number) {
  bool negative = false;
  if (scan.peek() == '+' || scan.peek() == '-') {
    negative = scan.peek() == '-';
    scan.advance();
  }
  if (!is_digit(scan.peek())) return bad_integer(item_number);
  return finish_value(scan, scan.take_digits(), negative, item_number);
}

// After "r*": a value, or r null values when a separator follows.
ListReadResult read_after_repeat(ListScanner& scan, int item_number) {
  const int c = scan.peek();
  if (ends_value(c)) return null_value();
  if (c == '+' || c == '-' || is_digit(c)) return read_value(scan, item_number);
  return bad_integer(item_number);
}

}  // namespace

ListReadResult read_list_integer(ByteSource& source, int item_number) {
  ListScanner scan(source);
  if (!scan.skip_to_item()) {
    ListReadResult result;
    result.status = ListReadResult::Status::end_of_file;
    return result;
  }
  const int c = scan.peek();
  if (c == ',' || c == '/') return null_value();
  if (c == '+' || c == '-') return read_value(scan, item_number);
  if (!is_digit(c)) return bad_integer(item_number);

  // An unsigned digit string: a value, or a repeat count when "*" follows.
  const std::int64_t number = scan.take_digits();
  if (scan.peek() == '*') {
    if (number == 0) return failure("Zero repeat count in item %d of list input", item_number);
    if (number > max_list_repeat_count) return failure("Repeat count overflow in item %d of list input", item_number);
    scan.advance();
    return read_after_repeat(scan, item_number);
  }
  return finish_value(scan, number, false, item_number);
}

}  // namespace blockeig::io
