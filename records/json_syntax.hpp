#pragma once
// Whether bytes form one JSON text (RFC 8259: the grammar, strings of valid
// UTF-8 without raw control characters), read a piece at a time and without
// building anything: a results document kept in a checkpoint is checked
// before a resumed run continues it. Alongside, the elements of the array
// under one key of the top-level object are counted.
#include <cstdint>
#include <string_view>

namespace blockeig {

class JsonSyntax {
 public:
  // `counted_key`: the top-level key whose array's elements are counted.
  explicit JsonSyntax(std::string_view counted_key);
  void feed(std::string_view bytes);
  // Whether everything fed is one whole JSON text.
  bool finish();
  // The elements of the counted array (0 when the key is absent).
  std::uint64_t counted() const { return counted_; }
  // Whether what was fed so far ends inside the counted array, between its
  // elements.
  bool in_counted_array() const {
    return counted_depth_ != 0 && depth_ == counted_depth_ &&
           (expect_ == Expect::after_value || expect_ == Expect::first_value);
  }

 private:
  enum class Expect : std::uint8_t {
    value,             // a value, or (just after '[') the end of the array
    first_value,       // as value, and ']' may close an empty array
    key,               // a key, or (just after '{') the end of the object
    first_key,         // as key, and '}' may close an empty object
    colon,
    after_value,       // ',' or the end of the container, or the end of the text
    string,            // inside a string
    escape,            // after a backslash in a string
    unicode,           // the hexadecimal digits of \uXXXX
    literal,           // the letters of true, false or null
    number,            // inside a number
    done,
    failed,
  };
  void step(unsigned char c);
  void start_value(unsigned char c);
  void end_value();
  void end_string();
  void number_step(unsigned char c);
  bool utf8_step(unsigned char c);

  static constexpr int max_depth = 32;
  std::string_view counted_key_;
  Expect expect_ = Expect::value;
  char stack_[max_depth] = {};  // '{' or '[' for each open container
  int depth_ = 0;
  bool in_key_ = false;
  // The key just read at the top level, as far as it can be the counted one.
  char key_[64] = {};
  std::size_t key_length_ = 0;
  bool key_matches_ = false;
  int counted_depth_ = 0;       // the depth of the counted array while open
  std::uint64_t counted_ = 0;
  std::string_view literal_;    // the rest of the literal being read
  int hex_digits_ = 0;
  int utf8_pending_ = 0;         // continuation bytes still to come
  unsigned char utf8_low_ = 0x80, utf8_high_ = 0xBF;  // the range of the next one
  // The number's parts so far: sign, integer digits (and whether it began
  // with 0), fraction, exponent.
  enum class NumberPart : std::uint8_t { sign, leading_zero, integer, point, fraction, e, e_sign, exponent };
  NumberPart number_ = NumberPart::sign;
};

}  // namespace blockeig
