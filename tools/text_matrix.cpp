#include "tools/text_matrix.hpp"

#include <optional>
#include <string>
#include <vector>

#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

// The tokens of the line without its comment.
std::vector<Token> data_tokens(std::string_view line) {
  const std::size_t hash = line.find('#');
  return split_tokens(hash == std::string_view::npos ? line : line.substr(0, hash));
}

}  // namespace

Matrix read_text_matrix(std::string_view text, std::string_view name) {
  LineCursor cursor(text);
  const auto fail = [&](std::int64_t column, const std::string& message) -> ToolError {
    return ToolError(text_position(name, cursor.line_number(), column) + message);
  };
  std::string_view line;
  std::vector<Token> tokens;
  while (tokens.empty()) {
    if (!cursor.next(line)) throw fail(0, "the file holds no numbers");
    tokens = data_tokens(line);
  }
  // A lone integer on the first line is the order; any other first line is
  // the first row, and its length gives the order.
  std::int64_t order = 0;
  const bool order_line = tokens.size() == 1 && parse_integer(tokens[0].text, order);
  if (!order_line) order = static_cast<std::int64_t>(tokens.size());
  require_blockeig_order(order, text_position(name, cursor.line_number(), tokens[0].column).c_str());
  // Rows of `order` numbers take at least 2 * order * order - 1 bytes (a
  // character per number, one between numbers and between rows). A text
  // shorter than that is only checked, without room for a matrix it cannot
  // hold, so that memory follows the data and not the announced order; the
  // check then fails on its own, with the message that names the place.
  std::optional<Matrix> m;
  if (static_cast<std::int64_t>(text.size()) + 1 >= 2 * order * order) m.emplace(static_cast<std::int32_t>(order));
  std::int64_t rows = 0;
  const auto take_row = [&]() {
    if (rows == order)
      throw fail(tokens[0].column, "more than " + std::to_string(order) + " rows: the matrix is not square");
    if (static_cast<std::int64_t>(tokens.size()) != order)
      throw fail(tokens.size() > static_cast<std::size_t>(order) ? tokens[static_cast<std::size_t>(order)].column : 0,
                 "row " + std::to_string(rows + 1) + " has " + std::to_string(tokens.size()) + " numbers, not " +
                     std::to_string(order));
    ++rows;
    for (std::size_t c = 0; c < tokens.size(); ++c) {
      double v = 0;
      if (!parse_real(tokens[c].text, v))
        throw fail(tokens[c].column, "'" + printable(tokens[c].text) + "' is not a number");
      if (m) (*m)(rows, static_cast<std::int64_t>(c) + 1) = v;
    }
  };
  if (!order_line) take_row();
  while (cursor.next(line)) {
    tokens = data_tokens(line);
    if (!tokens.empty()) take_row();
  }
  if (rows < order)
    throw fail(0, "the file ends after " + std::to_string(rows) + " rows; the matrix is not square (" +
                      std::to_string(order) + (order_line ? " rows announced)" : " numbers per row)"));
  if (!m) throw fail(0, "the file is too short for an order " + std::to_string(order) + " matrix");
  return std::move(*m);
}

void emit_text_matrix(const Matrix& m, const ByteSink& sink) {
  std::string line;
  for (std::int64_t i = 1; i <= m.n; ++i) {
    line.clear();
    for (std::int64_t j = 1; j <= m.n; ++j) {
      if (j > 1) line += ' ';
      line += shortest_text(m(i, j));
    }
    line += '\n';
    sink(std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
  }
}

}  // namespace scrtool
