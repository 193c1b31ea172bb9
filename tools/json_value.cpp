#include "tools/json_value.hpp"

#include <charconv>
#include <cstdint>
#include <string>

#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

constexpr int max_depth = 64;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hex_digit(char h) {
  return h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
}

void append_utf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Reads the text, checking it, and decodes a string when asked to. A
// document is read once to be checked; its strings are read again, from
// checked text, when a caller wants them.
class Parser {
 public:
  Parser(std::string_view text, std::string_view name, std::size_t at = 0) : text_(text), name_(name), at_(at) {}

  void document() {
    value(0);
    skip_blanks();
    if (at_ < text_.size()) fail("text after the end of the document");
  }

  // The string that starts at the current place (its opening quote), its
  // escapes decoded into `out` when `out` is given.
  void string(std::string* out) {
    ++at_;  // the opening quote
    for (;;) {
      if (at_ == text_.size()) fail("unterminated string");
      const char c = text_[at_++];
      if (c == '"') return;
      if (static_cast<unsigned char>(c) < 0x20) {
        --at_;
        fail("control character in a string");
      }
      if (c != '\\') {
        if (out) *out += c;
        continue;
      }
      if (at_ == text_.size()) fail("unterminated string");
      const char e = text_[at_++];
      char decoded = 0;
      switch (e) {
        case '"': case '\\': case '/': decoded = e; break;
        case 'b': decoded = '\b'; break;
        case 'f': decoded = '\f'; break;
        case 'n': decoded = '\n'; break;
        case 'r': decoded = '\r'; break;
        case 't': decoded = '\t'; break;
        case 'u': {
          const unsigned code = code_point();
          if (out) append_utf8(*out, code);
          continue;
        }
        default:
          --at_;
          fail("bad escape in a string");
      }
      if (out) *out += decoded;
    }
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    std::int64_t line = 1, column = 1;
    for (std::size_t k = 0; k < at_ && k < text_.size(); ++k) {
      if (text_[k] == '\n') ++line, column = 1;
      else ++column;
    }
    throw ToolError(text_position(name_, line, column) + what);
  }

  void skip_blanks() {
    while (at_ < text_.size() && is_blank(text_[at_])) ++at_;
  }

  bool take(char c) {
    skip_blanks();
    if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
    return false;
  }

  void expect(char c) {
    if (!take(c)) fail(std::string("expected '") + c + "'");
  }

  bool take_word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  void value(int depth) {
    if (depth > max_depth) fail("nested too deeply");
    skip_blanks();
    if (at_ == text_.size()) fail("unexpected end of the document");
    const char c = text_[at_];
    if (c == '{') {
      ++at_;
      if (take('}')) return;
      do {
        skip_blanks();
        if (at_ == text_.size() || text_[at_] != '"') fail("expected a member name");
        string(nullptr);
        expect(':');
        value(depth + 1);
      } while (take(','));
      expect('}');
    } else if (c == '[') {
      ++at_;
      if (take(']')) return;
      do value(depth + 1);
      while (take(','));
      expect(']');
    } else if (c == '"') {
      string(nullptr);
    } else if (!take_word("true") && !take_word("false") && !take_word("null")) {
      number();
    }
  }

  // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
  void number() {
    const std::size_t start = at_;
    const auto digits = [&] {
      const std::size_t first = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ - first;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    const std::size_t integer_start = at_;
    const std::size_t integer_digits = digits();
    if (integer_digits == 0) fail("expected a value");
    if (integer_digits > 1 && text_[integer_start] == '0') {
      at_ = integer_start;
      fail("a number may not start with 0");
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (digits() == 0) fail("expected digits after '.'");
    }
    bool exponent = false;
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) fail("expected digits in the exponent");
      exponent = true;
    }
    // Without an exponent, fewer than 300 characters lie between 1e-298
    // and 1e300 (or are zero): within the range of a double.
    if (!exponent && at_ - start < 300) return;
    double ignored;
    const auto [end, error] = std::from_chars(text_.data() + start, text_.data() + at_, ignored);
    if (error != std::errc() || end != text_.data() + at_) {
      at_ = start;
      fail("number out of the range of a double");
    }
  }

  // The code point of a \u escape, after the "\u": a surrogate pair is
  // one; a lone surrogate is U+FFFD, and whatever follows it is read on its
  // own.
  unsigned code_point() {
    const unsigned code = hex4();
    if (code >= 0xD800 && code <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
      const std::size_t second = at_;
      at_ += 2;
      const unsigned low = hex4();
      if (low >= 0xDC00 && low <= 0xDFFF) return 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      at_ = second;
      return 0xFFFD;
    }
    return code >= 0xD800 && code <= 0xDFFF ? 0xFFFD : code;
  }

  unsigned hex4() {
    unsigned code = 0;
    for (int k = 0; k < 4; ++k, ++at_) {
      if (at_ == text_.size()) fail("unexpected end in a \\u escape");
      const int digit = hex_digit(text_[at_]);
      if (digit < 0) fail("bad \\u escape");
      code = code * 16 + static_cast<unsigned>(digit);
    }
    return code;
  }

  std::string_view text_;
  std::string_view name_;
  std::size_t at_;
};

// What follows works on checked text only.

std::size_t skip_blanks(std::string_view text, std::size_t at) {
  while (at < text.size() && is_blank(text[at])) ++at;
  return at;
}

bool is_number_character(char c) { return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

// The place after the string whose opening quote is at `at`.
std::size_t skip_string(std::string_view text, std::size_t at) {
  for (++at;; at += 2) {
    while (text[at] != '"' && text[at] != '\\') ++at;
    if (text[at] == '"') return at + 1;
  }
}

// The place after the value at `at`.
std::size_t skip_value(std::string_view text, std::size_t at) {
  switch (text[at]) {
    case '"': return skip_string(text, at);
    case 't': case 'n': return at + 4;
    case 'f': return at + 5;
    case '[': case '{': {
      int depth = 0;
      for (;;) {
        const char c = text[at];
        if (c == '"') {
          at = skip_string(text, at);
          continue;
        }
        if (c == '[' || c == '{') ++depth;
        if ((c == ']' || c == '}') && --depth == 0) return at + 1;
        ++at;
      }
    }
    default:
      while (at < text.size() && is_number_character(text[at])) ++at;
      return at;
  }
}

}  // namespace

JsonValue parse_json(std::string_view text, std::string_view name) {
  Parser(text, name).document();
  return JsonValue(text, skip_blanks(text, 0));
}

JsonValue::Kind JsonValue::kind() const {
  switch (text_[at_]) {
    case '{': return Kind::object;
    case '[': return Kind::array;
    case '"': return Kind::string;
    case 't': case 'f': return Kind::boolean;
    case 'n': return Kind::null;
    default: return Kind::number;
  }
}

bool JsonValue::boolean() const { return text_[at_] == 't'; }

double JsonValue::number() const {
  // Checked text: what follows a number cannot continue it.
  double value = 0;
  if (kind() == Kind::number) std::from_chars(text_.data() + at_, text_.data() + text_.size(), value);
  return value;
}

bool JsonValue::integral() const {
  if (kind() != Kind::number) return false;
  const std::string_view token = text_.substr(at_, skip_value(text_, at_) - at_);
  return token.find_first_of(".eE") == std::string_view::npos;
}

std::string JsonValue::text() const {
  std::string out;
  if (kind() == Kind::string) Parser(text_, "", at_).string(&out);
  return out;
}

std::size_t JsonValue::size() const {
  std::size_t count = 0;
  if (kind() == Kind::array || kind() == Kind::object)
    for (std::size_t at = first_child(); at != std::string_view::npos;
         at = next_child(kind() == Kind::object ? member_value(at) : at))
      ++count;
  return count;
}

std::optional<JsonValue> JsonValue::find(std::string_view key) const { return find(std::array{key})[0]; }

std::size_t JsonValue::first_child() const {
  const std::size_t at = skip_blanks(text_, at_ + 1);
  return text_[at] == ']' || text_[at] == '}' ? std::string_view::npos : at;
}

std::size_t JsonValue::next_child(std::size_t at) const {
  at = skip_blanks(text_, skip_value(text_, at));
  return text_[at] == ',' ? skip_blanks(text_, at + 1) : std::string_view::npos;
}

std::string_view JsonValue::raw_name(std::size_t at) const {
  return text_.substr(at + 1, skip_string(text_, at) - at - 2);
}

std::size_t JsonValue::member_value(std::size_t at) const {
  return skip_blanks(text_, skip_blanks(text_, skip_string(text_, at)) + 1);
}

bool JsonValue::name_is(std::size_t at, std::string_view key) const {
  const std::string_view raw = raw_name(at);
  if (raw.find('\\') == std::string_view::npos) return raw == key;
  return name(at) == key;
}

std::string JsonValue::name(std::size_t at) const {
  std::string out;
  Parser(text_, "", at).string(&out);
  return out;
}

}  // namespace scrtool
