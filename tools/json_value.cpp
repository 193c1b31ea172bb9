#include "tools/json_value.hpp"

#include <charconv>
#include <cstdint>
#include <string>
#include <utility>

#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

constexpr int max_depth = 64;

class Parser {
 public:
  Parser(std::string_view text, std::string_view name) : text_(text), name_(name) {}

  JsonValue document() {
    JsonValue value = parse_value(0);
    skip_blanks();
    if (at_ < text_.size()) fail("text after the end of the document");
    return value;
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
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
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

  JsonValue parse_value(int depth) {
    if (depth > max_depth) fail("nested too deeply");
    skip_blanks();
    if (at_ == text_.size()) fail("unexpected end of the document");
    JsonValue value;
    const char c = text_[at_];
    if (c == '{') {
      ++at_;
      value.kind = JsonValue::Kind::object;
      if (take('}')) return value;
      do {
        skip_blanks();
        if (at_ == text_.size() || text_[at_] != '"') fail("expected a member name");
        std::string key = parse_string();
        expect(':');
        value.members.push_back({std::move(key), parse_value(depth + 1)});
      } while (take(','));
      expect('}');
    } else if (c == '[') {
      ++at_;
      value.kind = JsonValue::Kind::array;
      if (take(']')) return value;
      do value.items.push_back(parse_value(depth + 1));
      while (take(','));
      expect(']');
    } else if (c == '"') {
      value.kind = JsonValue::Kind::string;
      value.text = parse_string();
    } else if (take_word("true") || take_word("false")) {
      value.kind = JsonValue::Kind::boolean;
      value.boolean = c == 't';
    } else if (take_word("null")) {
      value.kind = JsonValue::Kind::null;
    } else {
      parse_number(value);
    }
    return value;
  }

  // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
  void parse_number(JsonValue& value) {
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
    bool integral = true;
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (digits() == 0) fail("expected digits after '.'");
      integral = false;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) fail("expected digits in the exponent");
      integral = false;
    }
    const auto [end, error] = std::from_chars(text_.data() + start, text_.data() + at_, value.number);
    if (error != std::errc() || end != text_.data() + at_) {
      at_ = start;
      fail("number out of the range of a double");
    }
    value.kind = JsonValue::Kind::number;
    value.integral = integral;
  }

  unsigned hex4() {
    unsigned code = 0;
    for (int k = 0; k < 4; ++k, ++at_) {
      if (at_ == text_.size()) fail("unexpected end in a \\u escape");
      const char h = text_[at_];
      const int digit = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                                       : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
      if (digit < 0) fail("bad \\u escape");
      code = code * 16 + static_cast<unsigned>(digit);
    }
    return code;
  }

  static void append_utf8(std::string& out, unsigned code) {
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

  std::string parse_string() {
    ++at_;  // the opening quote
    std::string out;
    for (;;) {
      if (at_ == text_.size()) fail("unterminated string");
      const char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) {
        --at_;
        fail("control character in a string");
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ == text_.size()) fail("unterminated string");
      const char e = text_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code = hex4();
          if (code >= 0xD800 && code <= 0xDBFF && take_word("\\u")) {
            const unsigned low = hex4();
            code = low >= 0xDC00 && low <= 0xDFFF ? 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00) : 0xFFFD;
          } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
          }
          append_utf8(out, code);
          break;
        }
        default:
          --at_;
          fail("bad escape in a string");
      }
    }
  }

  std::string_view text_;
  std::string_view name_;
  std::size_t at_ = 0;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const auto& [name, value] : members)
    if (name == key) return &value;
  return nullptr;
}

JsonValue parse_json(std::string_view text, std::string_view name) { return Parser(text, name).document(); }

}  // namespace scrtool
