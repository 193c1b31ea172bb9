#include "records/json_syntax.hpp"

#include <cstring>

namespace blockeig {

namespace {

bool is_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_hex(unsigned char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

JsonSyntax::JsonSyntax(std::string_view counted_key) : counted_key_(counted_key) {}

void JsonSyntax::feed(std::string_view bytes) {
  for (const char c : bytes) {
    if (expect_ == Expect::failed) return;
    step(static_cast<unsigned char>(c));
  }
}

bool JsonSyntax::finish() {
  if (expect_ == Expect::number && number_ != NumberPart::sign && number_ != NumberPart::point &&
      number_ != NumberPart::e && number_ != NumberPart::e_sign)
    end_value();
  return expect_ == Expect::done;
}

void JsonSyntax::end_value() { expect_ = depth_ == 0 ? Expect::done : Expect::after_value; }

void JsonSyntax::end_string() {
  if (!in_key_) return end_value();
  in_key_ = false;
  key_matches_ = depth_ == 1 && key_length_ == counted_key_.size() &&
                 std::memcmp(key_, counted_key_.data(), key_length_) == 0;
  expect_ = Expect::colon;
}

void JsonSyntax::start_value(unsigned char c) {
  if (counted_depth_ != 0 && depth_ == counted_depth_) ++counted_;
  const bool counted_array = key_matches_ && c == '[';
  key_matches_ = false;
  switch (c) {
    case '{':
    case '[':
      if (depth_ == max_depth) {
        expect_ = Expect::failed;
        return;
      }
      stack_[depth_++] = static_cast<char>(c);
      if (counted_array) counted_depth_ = depth_;
      expect_ = c == '{' ? Expect::first_key : Expect::first_value;
      return;
    case '"':
      in_key_ = false;
      expect_ = Expect::string;
      return;
    case 't': literal_ = "rue"; break;
    case 'f': literal_ = "alse"; break;
    case 'n': literal_ = "ull"; break;
    default:
      if (c != '-' && !is_digit(c)) {
        expect_ = Expect::failed;
        return;
      }
      number_ = c == '-' ? NumberPart::sign : c == '0' ? NumberPart::leading_zero : NumberPart::integer;
      expect_ = Expect::number;
      return;
  }
  expect_ = Expect::literal;
}

void JsonSyntax::number_step(unsigned char c) {
  const bool digit = is_digit(c);
  const bool e = c == 'e' || c == 'E';
  switch (number_) {
    case NumberPart::sign:
      if (!digit) break;
      number_ = c == '0' ? NumberPart::leading_zero : NumberPart::integer;
      return;
    case NumberPart::leading_zero:
    case NumberPart::integer:
      if (digit && number_ == NumberPart::integer) return;
      if (c == '.') {
        number_ = NumberPart::point;
        return;
      }
      if (e) {
        number_ = NumberPart::e;
        return;
      }
      if (digit) break;  // a leading zero is the whole integer part
      end_value();
      return step(c);
    case NumberPart::point:
      if (!digit) break;
      number_ = NumberPart::fraction;
      return;
    case NumberPart::fraction:
      if (digit) return;
      if (e) {
        number_ = NumberPart::e;
        return;
      }
      end_value();
      return step(c);
    case NumberPart::e:
      if (c == '+' || c == '-') {
        number_ = NumberPart::e_sign;
        return;
      }
      [[fallthrough]];
    case NumberPart::e_sign:
      if (!digit) break;
      number_ = NumberPart::exponent;
      return;
    case NumberPart::exponent:
      if (digit) return;
      end_value();
      return step(c);
  }
  expect_ = Expect::failed;
}

// A byte of a string at or above 0x80: a lead byte starts a sequence, whose
// continuation bytes must fall in the range that excludes overlong forms,
// surrogates and code points beyond U+10FFFF.
bool JsonSyntax::utf8_step(unsigned char c) {
  if (utf8_pending_ > 0) {
    if (c < utf8_low_ || c > utf8_high_) return false;
    --utf8_pending_;
    utf8_low_ = 0x80;
    utf8_high_ = 0xBF;
    return true;
  }
  utf8_low_ = 0x80;
  utf8_high_ = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    utf8_pending_ = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    utf8_pending_ = 2;
    if (c == 0xE0) utf8_low_ = 0xA0;
    if (c == 0xED) utf8_high_ = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    utf8_pending_ = 3;
    if (c == 0xF0) utf8_low_ = 0x90;
    if (c == 0xF4) utf8_high_ = 0x8F;
  } else {
    return false;
  }
  return true;
}

void JsonSyntax::step(unsigned char c) {
  switch (expect_) {
    case Expect::string:
      if (c == '"' && utf8_pending_ == 0) return end_string();
      if (c == '\\' && utf8_pending_ == 0) {
        expect_ = Expect::escape;
        return;
      }
      if (c < 0x20 || ((c >= 0x80 || utf8_pending_ > 0) && !utf8_step(c))) break;
      if (in_key_ && key_length_ < sizeof key_) key_[key_length_++] = static_cast<char>(c);
      return;
    case Expect::escape:
      // An escaped character never matches the counted key, which has none.
      if (in_key_) key_length_ = sizeof key_;
      if (c == 'u') {
        hex_digits_ = 4;
        expect_ = Expect::unicode;
        return;
      }
      if (std::strchr("\"\\/bfnrt", c) == nullptr || c == 0) break;
      expect_ = Expect::string;
      return;
    case Expect::unicode:
      if (!is_hex(c)) break;
      if (--hex_digits_ == 0) expect_ = Expect::string;
      return;
    case Expect::literal:
      if (literal_.empty() || c != static_cast<unsigned char>(literal_[0])) break;
      literal_.remove_prefix(1);
      if (literal_.empty()) end_value();
      return;
    case Expect::number:
      return number_step(c);
    default:
      break;
  }
  if (expect_ == Expect::string || expect_ == Expect::escape || expect_ == Expect::unicode ||
      expect_ == Expect::literal) {
    expect_ = Expect::failed;
    return;
  }
  if (is_space(c) || expect_ == Expect::failed) return;
  switch (expect_) {
    case Expect::first_value:
      if (c == ']') {
        if (depth_ == counted_depth_) counted_depth_ = 0;
        --depth_;
        return end_value();
      }
      return start_value(c);
    case Expect::value:
      return start_value(c);
    case Expect::first_key:
      if (c == '}') {
        --depth_;
        return end_value();
      }
      [[fallthrough]];
    case Expect::key:
      if (c != '"') break;
      in_key_ = true;
      key_length_ = 0;
      expect_ = Expect::string;
      return;
    case Expect::colon:
      if (c != ':') break;
      expect_ = Expect::value;
      return;
    case Expect::after_value: {
      const char open = stack_[depth_ - 1];
      if (c == ',') {
        expect_ = open == '{' ? Expect::key : Expect::value;
        return;
      }
      if ((c == '}' && open == '{') || (c == ']' && open == '[')) {
        if (depth_ == counted_depth_) counted_depth_ = 0;
        --depth_;
        return end_value();
      }
      break;
    }
    default:
      break;
  }
  expect_ = Expect::failed;
}

}  // namespace blockeig
