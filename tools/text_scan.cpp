#include "tools/text_scan.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <string>

#include "runtime/printable.hpp"

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

namespace {

constexpr std::uint64_t sign_bit = std::uint64_t{1} << 63;
constexpr std::uint64_t exponent_bits = std::uint64_t{0x7ff} << 52;
constexpr std::uint64_t significand_bits = (std::uint64_t{1} << 52) - 1;
constexpr std::uint64_t quiet_bit = std::uint64_t{1} << 51;

// "[+-]nan(0xHEX)" (in any case), the form shortest_text gives a NaN whose
// significand field is not the plain quiet one: HEX is that field, 1 to
// 2^52 - 1. False for anything else.
bool parse_nan_with_payload(std::string_view token, double& value) {
  std::uint64_t bits = exponent_bits;
  if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
    if (token[0] == '-') bits |= sign_bit;
    token.remove_prefix(1);
  }
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  constexpr std::string_view head = "nan(0x";
  if (token.size() < head.size() + 2 || token.back() != ')') return false;
  for (std::size_t k = 0; k < head.size(); ++k)
    if (lower(token[k]) != head[k]) return false;
  const std::string_view digits = token.substr(head.size(), token.size() - head.size() - 1);
  std::uint64_t field = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), field, 16);
  if (ec != std::errc() || ptr != digits.data() + digits.size() || field == 0 || field > significand_bits) return false;
  value = std::bit_cast<double>(bits | field);
  return true;
}

}  // namespace

bool parse_real(std::string_view token, double& value) {
  if (token.empty() || token.size() > 400) return false;
  if (parse_nan_with_payload(token, value)) return true;
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

// One routine for both programs: what scrtool quotes, blockeig quotes alike.
std::string printable(std::string_view bytes) { return blockeig::runtime::printable(bytes); }

std::string printable(std::string_view bytes, std::size_t most) { return blockeig::runtime::printable(bytes, most); }

std::string text_position(std::string_view name, std::int64_t line, std::int64_t column) {
  std::string out = printable(name);
  if (line > 0) out += ':' + std::to_string(line);
  if (column > 0) out += ':' + std::to_string(column);
  out += ": ";
  return out;
}

std::string shortest_text(double value) {
  if (std::isnan(value)) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    std::string text = bits & sign_bit ? "-nan" : "nan";
    const std::uint64_t field = bits & significand_bits;
    if (field == quiet_bit) return text;
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, field, 16);
    return text + "(0x" + std::string(digits, result.ptr) + ")";
  }
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace scrtool
