#include "tools/npy_file.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

constexpr std::string_view magic = "\x93NUMPY";

struct Dtype {
  std::string_view descr_tail;  // after the byte-order character
  std::size_t size;
  enum { real, integer } kind;
};

constexpr Dtype dtypes[] = {
    {"f8", 8, Dtype::real}, {"f4", 4, Dtype::real}, {"i8", 8, Dtype::integer}, {"i4", 4, Dtype::integer}};

// The three keys of the header dictionary.
struct Header {
  std::optional<std::string> descr;
  std::optional<bool> fortran_order;
  std::optional<std::vector<std::int64_t>> shape;
};

// A parser for the Python dictionary literal of the header:
// {'descr': '<f8', 'fortran_order': False, 'shape': (3, 3), }
class HeaderParser {
 public:
  HeaderParser(std::string_view text, std::size_t base, std::string_view name)
      : text_(text), base_(base), name_(name) {}

  Header parse() {
    Header h;
    skip_blanks();
    expect('{');
    for (;;) {
      skip_blanks();
      if (peek() == '}') break;
      const std::size_t key_at = pos_;
      const std::string key = string_literal();
      skip_blanks();
      expect(':');
      skip_blanks();
      if (key == "descr") {
        if (peek() != '\'' && peek() != '"') fail(pos_, "'descr' is not a plain dtype string; structured arrays are not supported");
        h.descr = string_literal();
      } else if (key == "fortran_order") {
        h.fortran_order = boolean_literal();
      } else if (key == "shape") {
        h.shape = tuple_literal();
      } else {
        fail(key_at, "unexpected key '" + printable(key) + "' in the header");
      }
      skip_blanks();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      skip_blanks();
      if (peek() != '}') fail(pos_, "expected ',' or '}' in the header");
    }
    if (!h.descr) fail(pos_, "the header has no 'descr'");
    if (!h.fortran_order) fail(pos_, "the header has no 'fortran_order'");
    if (!h.shape) fail(pos_, "the header has no 'shape'");
    return h;
  }

  [[noreturn]] void fail(std::size_t at, const std::string& message) const {
    throw ToolError(printable(name_) + ": byte " + std::to_string(base_ + at) + ": " + message);
  }

 private:
  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void skip_blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n')) ++pos_;
  }
  void expect(char c) {
    if (peek() != c) fail(pos_, std::string("expected '") + c + "' in the header");
    ++pos_;
  }
  std::string string_literal() {
    const char quote = peek();
    if (quote != '\'' && quote != '"') fail(pos_, "expected a quoted string in the header");
    const std::size_t end = text_.find(quote, pos_ + 1);
    if (end == std::string_view::npos) fail(pos_, "unterminated string in the header");
    std::string value(text_.substr(pos_ + 1, end - pos_ - 1));
    pos_ = end + 1;
    return value;
  }
  bool boolean_literal() {
    if (text_.substr(pos_, 4) == "True") {
      pos_ += 4;
      return true;
    }
    if (text_.substr(pos_, 5) == "False") {
      pos_ += 5;
      return false;
    }
    fail(pos_, "'fortran_order' must be True or False");
  }
  std::vector<std::int64_t> tuple_literal() {
    expect('(');
    std::vector<std::int64_t> values;
    for (;;) {
      skip_blanks();
      if (peek() == ')') break;
      const std::size_t start = pos_;
      std::int64_t value = 0;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
        if (value > (INT64_MAX - 9) / 10) fail(start, "a dimension of the shape is too large");
        value = value * 10 + (text_[pos_++] - '0');
      }
      if (pos_ == start) fail(pos_, "expected a dimension in 'shape'");
      // Python 2 wrote long integers as 3L.
      if (peek() == 'L') ++pos_;
      values.push_back(value);
      skip_blanks();
      if (peek() == ',') ++pos_;
      else if (peek() != ')') fail(pos_, "expected ',' or ')' in 'shape'");
    }
    ++pos_;
    return values;
  }

  std::string_view text_;
  std::size_t base_;
  std::string_view name_;
  std::size_t pos_ = 0;
};

std::string shape_text(const std::vector<std::int64_t>& shape) {
  std::string out = "(";
  for (std::size_t k = 0; k < shape.size(); ++k) out += (k ? ", " : "") + std::to_string(shape[k]);
  return out + (shape.size() == 1 ? ",)" : ")");
}

double element(const std::uint8_t* p, const Dtype& t, ByteOrder order) {
  if (t.kind == Dtype::real) {
    if (t.size == 8) return decode_double(p, order);
    return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(decode_int32(p, order))));
  }
  if (t.size == 4) return static_cast<double>(decode_int32(p, order));
  return static_cast<double>(decode_int64(p, order));
}

}  // namespace

Matrix read_npy(std::span<const std::uint8_t> file, std::string_view name) {
  const auto fail = [name](std::size_t at, const std::string& message) -> ToolError {
    return ToolError(printable(name) + ": byte " + std::to_string(at) + ": " + message);
  };
  // Magic, version and header length take at least 10 bytes.
  const std::size_t compared = std::min(file.size(), magic.size());
  if (compared > 0 && std::memcmp(file.data(), magic.data(), compared) != 0)
    throw fail(0, "not a NumPy .npy file (it does not start with \\x93NUMPY)");
  if (file.size() < 10) throw fail(file.size(), "the file is too short for a .npy header");
  const std::uint8_t major = file[6];
  if (major < 1 || major > 3) throw fail(6, "unsupported .npy format version " + std::to_string(major));
  const std::size_t length_size = major == 1 ? 2 : 4;
  if (file.size() < 8 + length_size) throw fail(8, "the file ends inside the header length");
  std::size_t header_length = 0;
  for (std::size_t k = 0; k < length_size; ++k) header_length |= std::size_t{file[8 + k]} << (8 * k);
  const std::size_t header_start = 8 + length_size;
  if (header_length > file.size() - header_start)
    throw fail(8, "the header length " + std::to_string(header_length) + " runs past the end of the file (" +
                      std::to_string(file.size()) + " bytes)");
  const std::string_view header_text(reinterpret_cast<const char*>(file.data()) + header_start, header_length);
  HeaderParser parser(header_text, header_start, name);
  const Header header = parser.parse();

  const std::string& descr = *header.descr;
  const Dtype* type = nullptr;
  ByteOrder order = ByteOrder::little;
  if (descr.size() == 3 && (descr[0] == '<' || descr[0] == '>'))
    for (const Dtype& t : dtypes)
      if (descr.substr(1) == t.descr_tail) type = &t, order = descr[0] == '<' ? ByteOrder::little : ByteOrder::big;
  if (type == nullptr)
    throw fail(header_start, "dtype '" + printable(descr) + "' is not supported; use float64, float32, int32 or int64 ('<f8', '>f4', ...)");
  const std::vector<std::int64_t>& shape = *header.shape;
  if (shape.size() != 2) throw fail(header_start, "shape " + shape_text(shape) + " is not a two-dimensional matrix");
  if (shape[0] != shape[1]) throw fail(header_start, "the matrix is not square: shape " + shape_text(shape));
  require_blockeig_order(shape[0], (printable(name) + ": byte " + std::to_string(header_start) + ": ").c_str());

  const std::size_t n = static_cast<std::size_t>(shape[0]);
  const std::size_t data_start = header_start + header_length;
  const std::size_t data_bytes = n * n * type->size;
  const std::size_t present = file.size() - data_start;
  if (present < data_bytes)
    throw fail(file.size(), "the file ends inside the array data: shape " + shape_text(shape) + " of '" + printable(descr) +
                                "' needs " + std::to_string(data_bytes) + " bytes from byte " +
                                std::to_string(data_start) + ", the file holds " + std::to_string(present));
  if (present > data_bytes)
    throw fail(data_start + data_bytes, std::to_string(present - data_bytes) + " bytes follow the array data");

  Matrix m(static_cast<std::int32_t>(n));
  const std::uint8_t* data = file.data() + data_start;
  for (std::size_t r = 0; r < n; ++r)
    for (std::size_t c = 0; c < n; ++c) {
      // C order runs along rows, Fortran order down columns.
      const std::size_t k = *header.fortran_order ? c * n + r : r * n + c;
      m(static_cast<std::int64_t>(r) + 1, static_cast<std::int64_t>(c) + 1) = element(data + k * type->size, *type, order);
    }
  return m;
}

void emit_npy(const Matrix& m, const ByteSink& sink) {
  std::string header = "{'descr': '<f8', 'fortran_order': False, 'shape': (" + std::to_string(m.n) + ", " +
                       std::to_string(m.n) + "), }";
  // Magic, version and length take 10 bytes; the header is padded with
  // blanks and a line feed to a multiple of 64 bytes.
  const std::size_t total = (10 + header.size() + 1 + 63) / 64 * 64;
  header.append(total - 10 - header.size() - 1, ' ');
  header += '\n';
  std::vector<std::uint8_t> out(magic.begin(), magic.end());
  out.push_back(1);
  out.push_back(0);
  out.push_back(static_cast<std::uint8_t>(header.size() & 0xff));
  out.push_back(static_cast<std::uint8_t>(header.size() >> 8));
  out.insert(out.end(), header.begin(), header.end());
  sink(out);
  std::vector<std::uint8_t> row(8 * static_cast<std::size_t>(m.n));
  for (std::int64_t i = 1; i <= m.n; ++i) {
    for (std::int64_t j = 1; j <= m.n; ++j) encode_double(m(i, j), ByteOrder::little, &row[8 * static_cast<std::size_t>(j - 1)]);
    sink(row);
  }
}

}  // namespace scrtool
