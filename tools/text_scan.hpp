#pragma once
// Line and token scanning shared by the text readers (Matrix Market and
// plain text), with the line and column of every token for messages.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scrtool {

struct Token {
  std::string_view text;
  std::int64_t column = 0;  // one-based
};

// Walks a text line by line; a CR before the LF is dropped.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}
  // Moves to the next line; false at the end of the text.
  bool next(std::string_view& line);
  std::int64_t line_number() const { return line_number_; }
  // The bytes after the current line.
  std::size_t remaining() const { return text_.size() - position_; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
  std::int64_t line_number_ = 0;
};

// Splits `line` at blanks and tabs.
std::vector<Token> split_tokens(std::string_view line);

// Reads a whole token as a real number: decimal or exponent form, an
// optional sign, a Fortran "D" exponent, "inf", "infinity" and "nan" in any
// case, and a NaN's sign and significand as shortest_text writes them
// ("-nan", "nan(0x1)"). False for anything else, and for a value beyond the
// double range.
bool parse_real(std::string_view token, double& value);
// Reads a whole token as a decimal integer with an optional sign.
bool parse_integer(std::string_view token, std::int64_t& value);

// `bytes` as a message may show them: each byte of a control character,
// DEL, a C1 control or anything that is not valid UTF-8 becomes \xNN
// (\x00, \x1b, \xff), so that no byte of a file can cut a message short or
// reach the user's terminal as an escape sequence.
std::string printable(std::string_view bytes);
// The same, at most `most` bytes long, cut as runtime::printable cuts a
// value that does not fit.
std::string printable(std::string_view bytes, std::size_t most);

// "NAME:LINE:COLUMN: " (the column omitted when 0, the line too), the prefix
// of a message; the name is made printable.
std::string text_position(std::string_view name, std::int64_t line, std::int64_t column);

// The shortest text that reads back as exactly `value`: "inf" and "-inf"
// for the infinities; "nan" or "-nan" for a quiet NaN with no payload, and
// for any other NaN its significand field in hexadecimal, "nan(0x1)" (a
// signalling NaN) or "-nan(0x8000000000abc)".
std::string shortest_text(double value);

}  // namespace scrtool
