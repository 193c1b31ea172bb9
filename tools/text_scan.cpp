#include "tools/text_scan.hpp"

#include <algorithm>
#include <bit>
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

namespace {

// The length of the printable UTF-8 character at the start of `s`, or 0 when
// its first byte is to be quoted.
std::size_t printable_character(std::string_view s) {
  const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(0);
  if (lead >= 0x20 && lead < 0x7f) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;  // the range of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) length = 2;
  else if (lead >= 0xe0 && lead <= 0xef) length = 3, low = lead == 0xe0 ? 0xa0 : 0x80, high = lead == 0xed ? 0x9f : 0xbf;
  else if (lead >= 0xf0 && lead <= 0xf4) length = 4, low = lead == 0xf0 ? 0x90 : 0x80, high = lead == 0xf4 ? 0x8f : 0xbf;
  if (length == 0 || s.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (byte(k) < 0x80 || byte(k) > 0xbf) return 0;
  // U+0080 to U+009F: the C1 controls, which terminals act on.
  if (lead == 0xc2 && byte(1) < 0xa0) return 0;
  return length;
}

}  // namespace

std::string printable(std::string_view bytes) { return printable(bytes, std::string_view::npos); }

std::string printable(std::string_view bytes, std::size_t most) {
  static constexpr char hex[] = "0123456789abcdef";
  static constexpr std::string_view cut = "...";
  std::string out;
  out.reserve(std::min(bytes.size(), most));
  std::size_t fits_with_cut = 0;  // the longest prefix of `out` that leaves room for the mark
  while (!bytes.empty()) {
    const std::size_t length = printable_character(bytes);
    const char quoted[4] = {'\\', 'x', hex[static_cast<unsigned char>(bytes[0]) >> 4], hex[bytes[0] & 15]};
    const std::string_view piece = length > 0 ? bytes.substr(0, length) : std::string_view(quoted, 4);
    if (out.size() + piece.size() > most) {
      out.resize(fits_with_cut);
      return out += cut;
    }
    out += piece;
    if (out.size() + cut.size() <= most) fits_with_cut = out.size();
    bytes.remove_prefix(std::max<std::size_t>(length, 1));
  }
  return out;
}

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
