#include "tools/text_scan.hpp"

#include <charconv>
#include <cmath>
#include <string>

namespace scrtool {

bool LineCursor::next(std::string_view& line) {
  if (position_ >= text_.size()) return false;
  const std::size_t end = text_.find('\n', position_);
  const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
  line = text_.substr(position_, stop - position_);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  position_ = end == std::string_view::npos ? text_.size() : end + 1;
  ++line_number_;
  return true;
}

std::vector<Token> split_tokens(std::string_view line) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) tokens.push_back({line.substr(start, i - start), static_cast<std::int64_t>(start) + 1});
  }
  return tokens;
}

bool parse_real(std::string_view token, double& value) {
  if (token.empty() || token.size() > 400) return false;
  std::string text(token);
  std::size_t start = 0;
  if (text[0] == '+') start = 1;
  // A Fortran program writes 1.5D+03 for a double.
  for (char& c : text)
    if (c == 'd' || c == 'D') c = 'e';
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  if (first == last || (start == 1 && (*first == '+' || *first == '-'))) return false;
  double parsed = 0;
  const auto [ptr, ec] = std::from_chars(first, last, parsed, std::chars_format::general);
  if (ptr != last) return false;
  if (ec == std::errc::result_out_of_range) {
    // Values below the smallest subnormal round to zero; values beyond the
    // largest double are refused.
    const double fallback = std::strtod(std::string(first, last).c_str(), nullptr);
    if (std::isinf(fallback)) return false;
    parsed = fallback;
  } else if (ec != std::errc()) {
    return false;
  }
  value = parsed;
  return true;
}

bool parse_integer(std::string_view token, std::int64_t& value) {
  if (token.empty()) return false;
  const char* first = token.data();
  const char* last = token.data() + token.size();
  if (*first == '+') {
    ++first;
    if (first == last || *first == '-') return false;
  }
  std::int64_t parsed = 0;
  const auto [ptr, ec] = std::from_chars(first, last, parsed);
  if (ec != std::errc() || ptr != last) return false;
  value = parsed;
  return true;
}

std::string text_position(std::string_view name, std::int64_t line, std::int64_t column) {
  std::string out(name);
  if (line > 0) out += ':' + std::to_string(line);
  if (column > 0) out += ':' + std::to_string(column);
  out += ": ";
  return out;
}

std::string shortest_text(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace scrtool
