#include "tools/transcript.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "runtime/console_texts.hpp"
#include "io/format.hpp"
#include "io/list_write.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

using blockeig::io::FormatItem;

// A list-directed record of one text, as the program writes it (" N = ").
std::string list_record(std::string_view text) {
  const blockeig::io::Item item(text);
  std::string record;
  blockeig::io::build_list_record(std::span<const blockeig::io::Item>(&item, 1), record);
  return record;
}

// The items of one of the program's own formats.
std::vector<FormatItem> format_items(std::string_view format) {
  return blockeig::io::parse_format(format).format.items;
}

// The console's line shapes, read from the program's texts and formats:
// the block and sweep lines are (i5,6g12.3), the summary (4g12.3).
struct ConsoleShapes {
  std::string order_prefix = list_record(blockeig::console_text::order);
  std::string ierr_prefix = list_record(blockeig::console_text::direct_ierr);
  std::string table_header = list_record(blockeig::console_text::table_heading);
  std::size_t integer_width = 0;
  std::size_t real_width = 0;
  std::size_t block_line_width = 0;
  std::size_t sweep_line_width = 0;
  std::size_t summary_width = 0;

  ConsoleShapes() {
    const std::vector<FormatItem> line = format_items(blockeig::console_text::iteration_format);
    const std::vector<FormatItem> summary = format_items(blockeig::console_text::summary_format);
    integer_width = static_cast<std::size_t>(line.at(0).w);
    real_width = static_cast<std::size_t>(line.at(1).w);
    block_line_width = integer_width + 4 * real_width;
    sweep_line_width = integer_width + static_cast<std::size_t>(line.at(1).repeat) * real_width;
    summary_width = static_cast<std::size_t>(summary.at(0).repeat * summary.at(0).w);
  }
};

const ConsoleShapes& shapes() {
  static const ConsoleShapes console;
  return console;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool parse_i_field(std::string_view field, std::int32_t& value) {
  std::int64_t v = 0;
  const std::string_view t = trim(field);
  if (t.empty() || t.find(' ') != std::string_view::npos || !parse_integer(t, v)) return false;
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

// Reads `count` G12.3 fields starting at `offset`; false if one does not read.
bool parse_reals(std::string_view line, std::size_t offset, std::size_t count, double* out) {
  const std::size_t real_width = shapes().real_width;
  for (std::size_t k = 0; k < count; ++k)
    if (!parse_g_field(line.substr(offset + k * real_width, real_width), out[k])) return false;
  return true;
}

}  // namespace

bool parse_g_field(std::string_view field, double& value) {
  const std::string_view t = trim(field);
  if (t.empty() || t.find(' ') != std::string_view::npos) return false;
  if (t == "NaN") return value = std::numeric_limits<double>::quiet_NaN(), true;
  if (t == "+Inf") return value = std::numeric_limits<double>::infinity(), true;
  if (t == "-Inf") return value = -std::numeric_limits<double>::infinity(), true;
  // The exponent form drops its letter from three exponent digits on
  // ("0.100+301"): a sign after the first character starts the exponent.
  std::string text(t);
  const std::size_t sign = text.find_first_of("+-", 1);
  if (sign != std::string::npos && text[sign - 1] != 'E') text.insert(sign, 1, 'E');
  for (char c : text)
    if (!(c == '.' || c == '+' || c == '-' || c == 'E' || (c >= '0' && c <= '9'))) return false;
  if (parse_real(text, value)) return true;
  // The largest doubles round up to "0.180+309", beyond the double range;
  // that field stands for the largest double. (Infinities are "+Inf".) The
  // field is compared with 1.80e308 a power of ten lower, as a double.
  const std::size_t mark = text.find('E');
  if (mark == std::string::npos) return false;
  const char* digits = text.c_str() + mark + 1;
  if (*digits == '+') ++digits;
  int exponent = 0;
  const auto [end, error] = std::from_chars(digits, text.c_str() + text.size(), exponent);
  double tenth = 0;
  if (error != std::errc() || end != text.c_str() + text.size() ||
      !parse_real(text.substr(0, mark) + "E" + std::to_string(exponent - 1), tenth) || std::fabs(tenth) > 1.80e307)
    return false;
  value = std::copysign(std::numeric_limits<double>::max(), tenth);
  return true;
}

Transcript read_transcript(std::string_view text, std::string_view name) {
  const auto& [order_prefix, ierr_prefix, table_header, integer_width, real_width, block_line_width,
               sweep_line_width, summary_width] = shapes();
  Transcript t;
  LineCursor cursor(text);
  const auto fail = [&](const std::string& message) -> ToolError {
    return ToolError(text_position(name, cursor.line_number(), 0) + message);
  };
  std::string_view line;
  bool expect_summary = false;
  bool in_table = false;
  while (cursor.next(line)) {
    if (expect_summary) {
      expect_summary = false;
      std::array<double, 4> values{};
      if (line.size() != summary_width || !parse_reals(line, 0, 4, values.data()))
        throw fail("the line after the IERR line is not the summary line of four G12.3 fields");
      t.summary = values;
      continue;
    }
    if (line.starts_with(order_prefix)) {
      std::int32_t n = 0;
      if (parse_i_field(line.substr(order_prefix.size()), n)) t.n = n;
      continue;
    }
    if (line.starts_with(ierr_prefix)) {
      std::int32_t ierr = 0;
      if (parse_i_field(line.substr(ierr_prefix.size()), ierr)) t.ierr = ierr;
      expect_summary = true;
      continue;
    }
    if (line == table_header) {
      in_table = true;
      t.nblocks = 0;
      continue;
    }
    if (in_table) {
      // Table rows are list-directed: four integers, blank-separated.
      const std::vector<Token> tokens = split_tokens(line);
      std::int64_t v = 0;
      if (tokens.size() == 4 && parse_integer(tokens[0].text, v) && parse_integer(tokens[3].text, v)) {
        ++t.nblocks;
        continue;
      }
      in_table = false;
    }
    std::int32_t number = 0;
    if (line.size() != block_line_width && line.size() != sweep_line_width) continue;
    if (!parse_i_field(line.substr(0, integer_width), number)) continue;
    if (line.size() == block_line_width) {
      double w[4];
      if (!parse_reals(line, integer_width, 4, w)) throw fail("block line with a field that is not a G12.3 number");
      ++t.block_lines;
      continue;
    }
    SweepLine sweep;
    double v[6];
    if (!parse_reals(line, integer_width, 6, v)) throw fail("sweep line with a field that is not a G12.3 number");
    sweep.iter = number;
    sweep.e1 = v[0], sweep.e2 = v[1], sweep.en1 = v[2], sweep.en = v[3], sweep.delta = v[4], sweep.tol = v[5];
    sweep.line = cursor.line_number();
    const std::int32_t expected = static_cast<std::int32_t>(t.sweeps.size()) + 1;
    if (sweep.iter != expected)
      throw fail("sweep " + std::to_string(sweep.iter) + " where sweep " + std::to_string(expected) +
                 " belongs" + (sweep.iter == 1 ? ": the transcript holds more than one run" : ""));
    t.sweeps.push_back(sweep);
  }
  if (t.sweeps.empty())
    throw ToolError(printable(name) +
                    ": no sweep line found (77-character lines of an integer and six G12.3 fields); "
                    "save blockeig's standard output, e.g. blockeig > run.txt");
  return t;
}

}  // namespace scrtool
