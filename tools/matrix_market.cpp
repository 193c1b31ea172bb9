#include "tools/matrix_market.hpp"

#include <algorithm>
#include <bit>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

enum class Layout { general, symmetric, skew_symmetric };

struct Header {
  bool coordinate = false;
  bool integer = false;
  bool pattern = false;  // entries without values, each 1.0
  Layout layout = Layout::general;
};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

class Parser {
 public:
  Parser(std::string_view text, std::string_view name, MatrixMarketNotes* notes)
      : text_(text), cursor_(text), name_(name), notes_(notes) {}

  Matrix parse() {
    const Header header = read_header();
    const std::vector<Token> size = next_data_line("the size line");
    std::int64_t rows = 0, columns = 0, entries = 0;
    const std::size_t expected = header.coordinate ? 3 : 2;
    if (size.size() != expected)
      fail(size.empty() ? 0 : size[0].column,
           std::string("the size line must hold ") + (header.coordinate ? "rows, columns and entries" : "rows and columns"));
    rows = integer_at(size[0], "row count");
    columns = integer_at(size[1], "column count");
    if (rows != columns)
      fail(size[0].column, "the matrix is not square: " + std::to_string(rows) + " rows, " +
                               std::to_string(columns) + " columns");
    require_blockeig_order(rows, text_position(name_, cursor_.line_number(), size[0].column).c_str());
    const std::int64_t n = rows;
    // Values the rest of the file must hold: a line per entry of at least
    // "1 1 1" (6 bytes, 5 for the last), or for the array format a character
    // per element and one between elements.
    std::int64_t needed = 0;
    if (header.coordinate) {
      entries = integer_at(size[2], "entry count");
      const std::int64_t line = header.pattern ? 4 : 6;  // "1 1" or "1 1 1" and its line end
      needed = entries > 0 ? line * entries - 1 : 0;
    } else {
      needed = 2 * stored_elements(header.layout, n) - 1;
    }
    // A file too short for what it announces is only checked, without room
    // for a matrix it cannot hold, so that memory follows the data and not
    // the size line; the check then fails on its own, naming the place.
    if (static_cast<std::int64_t>(cursor_.remaining()) >= needed) m_.emplace(static_cast<std::int32_t>(n));
    if (header.coordinate) read_coordinate(header, entries, n);
    else read_array(header, n);
    expect_end();
    if (!m_) fail(0, "the file is too short for an order " + std::to_string(n) + " matrix");
    return std::move(*m_);
  }

 private:
  [[noreturn]] void fail(std::int64_t column, const std::string& message) const {
    throw ToolError(text_position(name_, cursor_.line_number(), column) + message);
  }

  Header read_header() {
    std::string_view line;
    if (!cursor_.next(line)) fail(0, "the file is empty; a Matrix Market file starts with %%MatrixMarket");
    const std::vector<Token> t = split_tokens(line);
    if (t.empty() || lower(t[0].text) != "%%matrixmarket") {
      if (notes_ == nullptr) fail(1, "the first line must start with %%MatrixMarket");
      return assume_header(t);
    }
    if (t.size() != 5) fail(1, "the header needs five words: %%MatrixMarket matrix FORMAT FIELD SYMMETRY");
    if (lower(t[1].text) != "matrix")
      fail(t[1].column, "object '" + printable(t[1].text) + "' is not supported; only 'matrix' is");
    Header h;
    const std::string format = lower(t[2].text);
    if (format == "coordinate") h.coordinate = true;
    else if (format != "array") fail(t[2].column, "format '" + printable(t[2].text) + "' is neither 'array' nor 'coordinate'");
    const std::string field = lower(t[3].text);
    if (field == "integer") h.integer = true;
    else if (field == "pattern") h.pattern = true;
    else if (field != "real" && field != "double")
      fail(t[3].column, "field '" + printable(t[3].text) + "' is not supported; use 'real', 'integer' or 'pattern'");
    if (h.pattern && !h.coordinate) fail(t[3].column, "field 'pattern' goes with the coordinate format only");
    const std::string symmetry = lower(t[4].text);
    if (symmetry == "symmetric") h.layout = Layout::symmetric;
    else if (symmetry == "skew-symmetric") h.layout = Layout::skew_symmetric;
    else if (symmetry != "general")
      fail(t[4].column, "symmetry '" + printable(t[4].text) + "' is not supported; use 'general', 'symmetric' or 'skew-symmetric'");
    // Every entry is 1.0: its mirror image would be -1.0, which no pattern
    // says.
    if (h.pattern && h.layout == Layout::skew_symmetric)
      fail(t[4].column, "a pattern matrix cannot be skew-symmetric");
    if (h.pattern && notes_ != nullptr) {
      notes_->pattern = true;
      notes_->symmetric = h.layout == Layout::symmetric;
    }
    return h;
  }

  // A file without its banner: its first line must be the size line, which
  // is then read again as such.
  Header assume_header(const std::vector<Token>& size) {
    std::int64_t value = 0;
    const bool size_line = (size.size() == 2 || size.size() == 3) &&
                           std::all_of(size.begin(), size.end(), [&value](const Token& token) {
                             return parse_integer(token.text, value) && value >= 0;
                           });
    if (!size_line)
      fail(1, "the first line must start with %%MatrixMarket, or, in a file without it, be the size line: "
              "rows, columns and entries (coordinate) or rows and columns (array)");
    Header h;
    h.coordinate = size.size() == 3;
    notes_->assumed = std::string("%%MatrixMarket matrix ") + (h.coordinate ? "coordinate" : "array") + " real general";
    cursor_ = LineCursor(text_);
    banner_ = false;
    return h;
  }

  // The tokens of the next line that is neither blank nor a comment; fails
  // at the end of the file, saying what was expected there.
  std::vector<Token> next_data_line(const std::string& what) {
    std::vector<Token> tokens;
    if (!try_next_data_line(tokens)) fail(0, "the file ends before " + what);
    return tokens;
  }

  bool try_next_data_line(std::vector<Token>& tokens) {
    std::string_view line;
    while (cursor_.next(line)) {
      tokens = split_tokens(line);
      if (!tokens.empty() && tokens[0].text[0] != '%') return true;
    }
    return false;
  }

  std::int64_t integer_at(const Token& token, const char* what) const {
    std::int64_t value = 0;
    if (!parse_integer(token.text, value) || value < 0)
      fail(token.column, std::string(what) + " '" + printable(token.text) + "' is not a non-negative integer");
    return value;
  }

  double value_at(const Token& token, bool integer) const {
    if (integer) {
      std::int64_t v = 0;
      if (!parse_integer(token.text, v)) fail(token.column, "'" + printable(token.text) + "' is not an integer");
      return static_cast<double>(v);
    }
    double v = 0;
    if (!parse_real(token.text, v)) fail(token.column, "'" + printable(token.text) + "' is not a real number");
    return v;
  }

  static std::int64_t stored_elements(Layout layout, std::int64_t n) {
    return layout == Layout::general ? n * n : layout == Layout::symmetric ? n * (n + 1) / 2 : n * (n - 1) / 2;
  }

  // Element (i, j) and the mirror image its layout implies.
  void store(const Header& h, std::int64_t i, std::int64_t j, double v) {
    if (!m_) return;
    Matrix& m = *m_;
    m(i, j) = v;
    if (h.layout == Layout::symmetric) m(j, i) = v;
    if (h.layout == Layout::skew_symmetric) m(j, i) = -v;
  }

  void read_coordinate(const Header& h, std::int64_t entries, std::int64_t n) {
    const std::int64_t most = stored_elements(h.layout, n);
    if (entries > most)
      fail(0, "the size line announces " + std::to_string(entries) + " entries; an order " +
                  std::to_string(n) + " matrix of this symmetry holds at most " + std::to_string(most));
    // One bit per position; the line of a first entry is looked up again
    // only when a duplicate shows up.
    std::vector<bool> seen(static_cast<std::size_t>(n * n), false);
    const std::size_t fields = h.pattern ? 2 : 3;
    bool below = false, above = false;
    for (std::int64_t k = 0; k < entries; ++k) {
      const std::vector<Token> t = next_data_line("entry " + std::to_string(k + 1) + " of " + std::to_string(entries));
      if (t.size() != fields)
        fail(t.size() > fields ? t[fields].column : 0,
             h.pattern ? "an entry of a pattern file is a row and a column" : "an entry is a row, a column and a value");
      const std::int64_t i = index_at(t[0], n, "row");
      const std::int64_t j = index_at(t[1], n, "column");
      const double v = h.pattern ? 1.0 : value_at(t[2], h.integer);
      below = below || i > j;
      above = above || i < j;
      if (h.layout == Layout::skew_symmetric && i == j)
        fail(t[0].column, "a skew-symmetric matrix has no diagonal entries");
      // Symmetric layouts keep the lower triangle; an upper entry stands
      // for its mirror image.
      const std::int64_t r = h.layout == Layout::general ? i : std::max(i, j);
      const std::int64_t c = h.layout == Layout::general ? j : std::min(i, j);
      const std::size_t position = static_cast<std::size_t>((c - 1) * n + (r - 1));
      if (seen[position])
        fail(t[0].column, "entry (" + std::to_string(i) + ", " + std::to_string(j) +
                              ") is given a second time (first at line " +
                              std::to_string(first_line_of(h, r, c)) + ")");
      seen[position] = true;
      store(h, i, j, v);
    }
    if (!banner_ && below != above) mirror(below);
  }

  // A file without its banner that holds one triangle (the one below the
  // diagonal when `lower`) is that triangle of a symmetric matrix.
  void mirror(bool lower) {
    notes_->mirrored = lower ? "lower" : "upper";
    if (!m_) return;
    Matrix& m = *m_;
    for (std::int64_t j = 1; j <= m.n; ++j)
      for (std::int64_t i = j + 1; i <= m.n; ++i)
        if (lower) m(j, i) = m(i, j);
        else m(i, j) = m(j, i);
  }

  // The line of the first entry at (r, c) in the lower-triangle sense of
  // the layout; every line before the current one has been read already.
  std::int64_t first_line_of(const Header& h, std::int64_t r, std::int64_t c) const {
    LineCursor again(text_);
    std::string_view line;
    if (banner_) again.next(line);
    bool size_line_seen = false;
    while (again.next(line) && again.line_number() < cursor_.line_number()) {
      const std::vector<Token> t = split_tokens(line);
      if (t.empty() || t[0].text[0] == '%') continue;
      if (!size_line_seen) {
        size_line_seen = true;
        continue;
      }
      std::int64_t i = 0, j = 0;
      parse_integer(t[0].text, i);
      parse_integer(t[1].text, j);
      if (h.layout == Layout::general ? (i == r && j == c) : (std::max(i, j) == r && std::min(i, j) == c))
        return again.line_number();
    }
    return 0;
  }

  std::int64_t index_at(const Token& token, std::int64_t n, const char* what) const {
    std::int64_t value = 0;
    if (!parse_integer(token.text, value) || value < 1 || value > n)
      fail(token.column, std::string(what) + " index '" + printable(token.text) + "' is not between 1 and " + std::to_string(n));
    return value;
  }

  // Array format: the stored elements column by column, as many per line as
  // the writer chose (the layout asks for one).
  void read_array(const Header& h, std::int64_t n) {
    std::vector<Token> tokens;
    std::size_t next = 0;
    for (std::int64_t j = 1; j <= n; ++j) {
      const std::int64_t first_row = h.layout == Layout::general ? 1 : h.layout == Layout::symmetric ? j : j + 1;
      for (std::int64_t i = first_row; i <= n; ++i) {
        if (next == tokens.size()) {
          tokens = next_data_line("element (" + std::to_string(i) + ", " + std::to_string(j) + ")");
          next = 0;
        }
        store(h, i, j, value_at(tokens[next++], h.integer));
      }
    }
    if (next < tokens.size()) fail(tokens[next].column, "more values than the matrix holds");
  }

  void expect_end() {
    std::vector<Token> tokens;
    if (try_next_data_line(tokens)) fail(tokens[0].column, "more data than the size line announces");
  }

  std::string_view text_;
  LineCursor cursor_;
  std::string_view name_;
  MatrixMarketNotes* notes_;  // null: the banner is required
  bool banner_ = true;       // the file starts with its banner
  std::optional<Matrix> m_;  // absent while the file is too short to fill it
};

}  // namespace

Matrix read_matrix_market(std::string_view text, std::string_view name, MatrixMarketNotes* notes) {
  if (notes != nullptr) *notes = MatrixMarketNotes();
  return Parser(text, name, notes).parse();
}

void emit_matrix_market(const Matrix& m, const ByteSink& sink) {
  bool symmetric = true;
  for (std::int64_t j = 1; j <= m.n && symmetric; ++j)
    for (std::int64_t i = j + 1; i <= m.n; ++i)
      if (std::bit_cast<std::uint64_t>(m(i, j)) != std::bit_cast<std::uint64_t>(m(j, i))) {
        symmetric = false;
        break;
      }
  std::string out = std::string("%%MatrixMarket matrix array real ") + (symmetric ? "symmetric" : "general") +
                    "\n% written by scrtool\n" + std::to_string(m.n) + ' ' + std::to_string(m.n) + '\n';
  const auto flush = [&out, &sink](bool always) {
    if (always || out.size() > 60000) {
      sink(std::span(reinterpret_cast<const std::uint8_t*>(out.data()), out.size()));
      out.clear();
    }
  };
  for (std::int64_t j = 1; j <= m.n; ++j) {
    for (std::int64_t i = symmetric ? j : 1; i <= m.n; ++i) {
      out += shortest_text(m(i, j));
      out += '\n';
      flush(false);
    }
  }
  flush(true);
}

}  // namespace scrtool
