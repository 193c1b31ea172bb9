#include "io/format.hpp"

#include <cctype>
#include <cstdio>

namespace blockeig::io {
namespace {

// A value above every limit that a number of the format may reach; digits
// beyond it are read but no longer accumulated, so nothing wraps.
constexpr std::int64_t number_ceiling = std::int64_t{max_repeat_count} + 1;

class FormatParser {
 public:
  explicit FormatParser(std::string_view text) : text_(text) {}

  FormatParse parse() {
    if (!parse_format_text()) result_.format.items.clear();
    return std::move(result_);
  }

 private:
  bool parse_format_text() {
    skip_blanks();
    if (!take('(')) return fail_here("Expected '(' at the start");
    if (!parse_list(result_.format.items)) return false;
    skip_blanks();
    return at_end() || fail_here("Unexpected text after the final ')'");
  }

  bool at_end() const { return pos_ == text_.size(); }
  char peek() const { return at_end() ? '\0' : text_[pos_]; }
  char peek_upper() const { return static_cast<char>(std::toupper(static_cast<unsigned char>(peek()))); }
  static bool is_blank(char c) { return c == ' ' || c == '\t'; }
  static bool is_digit(char c) { return c >= '0' && c <= '9'; }

  void skip_blanks() {
    while (!at_end() && is_blank(text_[pos_])) ++pos_;
  }
  bool take(char c) {
    if (peek() != c) return false;
    ++pos_;
    return true;
  }

  bool fail_at(std::size_t pos, std::string_view what) {
    if (!result_.error.empty()) return false;  // the first error wins
    char where[48];
    std::snprintf(where, sizeof where, " at position %zu", pos + 1);
    result_.error.append(what).append(where).append(" in format \"").append(text_).append("\"");
    return false;
  }
  bool fail_here(std::string_view what) { return fail_at(pos_, what); }

  // Describes the character at the cursor for an error message.
  bool fail_unexpected() {
    if (at_end()) return fail_here("Missing ')'");
    const char c = peek();
    if (std::isalpha(static_cast<unsigned char>(c))) {
      const char name[] = {'\'', c, '\'', '\0'};
      return fail_here(std::string("Unsupported edit descriptor ") + name);
    }
    if (c == '\'' || c == '"') return fail_here("Unsupported character constant");
    if (std::isprint(static_cast<unsigned char>(c))) {
      const char name[] = {'\'', c, '\'', '\0'};
      return fail_here(std::string("Unexpected character ") + name);
    }
    char name[16];
    std::snprintf(name, sizeof name, "0x%02X", static_cast<unsigned char>(c));
    return fail_here(std::string("Unexpected character ") + name);
  }

  // An unsigned decimal number; blanks between its digits are ignored.
  // Returns false (without an error) when no digit is at the cursor.
  bool parse_number(std::int64_t& value) {
    skip_blanks();
    if (!is_digit(peek())) return false;
    value = 0;
    while (true) {
      while (is_digit(peek())) {
        const int digit = text_[pos_++] - '0';
        if (value < number_ceiling) value = value * 10 + digit;
        if (value > number_ceiling) value = number_ceiling;
      }
      const std::size_t before = pos_;
      skip_blanks();
      if (!is_digit(peek())) {
        pos_ = before;
        return true;
      }
    }
  }

  // A number for a descriptor: required, within [minimum, max_field_width].
  bool parse_field_number(int& out, int minimum, std::string_view missing) {
    skip_blanks();
    const std::size_t start = pos_;
    std::int64_t value = 0;
    if (!parse_number(value)) return fail_here(missing);
    if (value < minimum) return fail_at(start, "Zero width not allowed");
    if (value > max_field_width) {
      char what[48];
      std::snprintf(what, sizeof what, "Number above %d", max_field_width);
      return fail_at(start, what);
    }
    out = static_cast<int>(value);
    return true;
  }

  bool parse_list(std::vector<FormatItem>& items) {
    while (true) {
      FormatItem item;
      if (!parse_item(item)) return false;
      items.push_back(std::move(item));
      skip_blanks();
      if (take(',')) continue;
      if (take(')')) return true;
      if (at_end()) return fail_here("Missing ')'");
      return fail_here("Expected ',' or ')'");
    }
  }

  bool parse_item(FormatItem& item) {
    skip_blanks();
    const std::size_t start = pos_;
    std::int64_t repeat = 1;
    if (parse_number(repeat)) {
      if (repeat == 0) return fail_at(start, "Zero repeat count");
      if (repeat > max_repeat_count) return fail_at(start, "Repeat count too large");
      skip_blanks();
    }
    item.repeat = static_cast<std::int32_t>(repeat);
    const std::size_t descriptor = pos_;
    switch (peek_upper()) {
      case '(':
        ++pos_;
        item.kind = FormatItem::Kind::group;
        skip_blanks();
        if (peek() == ')') return fail_here("Empty group");
        return parse_list(item.children);
      case 'I':
        ++pos_;
        item.kind = FormatItem::Kind::integer;
        return parse_integer_descriptor(item, descriptor);
      case 'F':
        ++pos_;
        item.kind = FormatItem::Kind::fixed;
        return parse_real_descriptor(item, "F");
      case 'G':
        ++pos_;
        item.kind = FormatItem::Kind::general;
        if (!parse_real_descriptor(item, "G")) return false;
        if (item.d == 0) return fail_at(descriptor, "G needs at least one significant digit");
        skip_blanks();
        if (peek_upper() == 'E') {
          ++pos_;
          return parse_field_number(item.e, 1, "Missing exponent width after 'E'");
        }
        return true;
      default:
        if (at_end() || peek() == ',' || peek() == ')') return fail_here("Expected an edit descriptor or '('");
        return fail_unexpected();
    }
  }

  bool parse_integer_descriptor(FormatItem& item, std::size_t descriptor) {
    if (!parse_field_number(item.w, 0, "Missing width after 'I'")) return false;
    skip_blanks();
    if (!take('.')) return true;
    if (!parse_field_number(item.m, 0, "Missing minimum digits after '.'")) return false;
    // The editing keeps at most max_field_width - 1 digits, whatever the width.
    if (item.m == max_field_width) return fail_at(descriptor, "Minimum digits too large");
    if (item.w != 0 && item.m > item.w) return fail_at(descriptor, "Minimum digits exceed the width");
    return true;
  }

  bool parse_real_descriptor(FormatItem& item, std::string_view name) {
    if (!parse_field_number(item.w, 1, std::string("Missing width after '").append(name).append("'")))
      return false;
    skip_blanks();
    if (!take('.')) return fail_here(std::string("Missing '.' and digits count after '").append(name).append("' width"));
    return parse_field_number(item.d, 0, "Missing digits count after '.'");
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  FormatParse result_;
};

}  // namespace

FormatParse parse_format(std::string_view text) { return FormatParser(text).parse(); }

}  // namespace blockeig::io
