#include "tools/matrix_import.hpp"

#include <cstdint>
#include <span>

#include "runtime/posix_file.hpp"
#include "tools/file_io.hpp"
#include "tools/matrix_market.hpp"
#include "tools/npy_file.hpp"
#include "tools/scr_inspect.hpp"
#include "tools/symmetry.hpp"
#include "tools/text_matrix.hpp"
#include "tools/text_scan.hpp"
#include "tools/tool_error.hpp"

namespace scrtool {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string extension_of(std::string_view path) {
  const std::string name = blockeig::runtime::split_name(path).name;
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : lower(name.substr(dot));
}

std::string input_format(const std::string& path, const std::optional<std::string>& given, const std::string& text) {
  if (given) return *given;
  const std::string ext = extension_of(path);
  if (ext == ".npy") return "npy";
  if (ext == ".mtx" || ext == ".mm") return "mtx";
  if (text.starts_with("\x93NUMPY")) return "npy";
  if (lower(text.substr(0, 14)) == "%%matrixmarket") return "mtx";
  return "txt";
}

// What a Matrix Market reading assumed, each in a line of its own.
void warn_of(const std::string& path, const MatrixMarketNotes& notes, std::string_view command, std::ostream& err) {
  const std::string warning = "scrtool " + std::string(command) + ": warning: " + printable(path) + ": ";
  if (!notes.assumed.empty()) err << warning << "no %%MatrixMarket header line; assumed \"" << notes.assumed << "\"\n";
  if (notes.pattern)
    err << warning << "a pattern matrix, whose entries have no values: each stored entry is taken as 1.0"
        << (notes.symmetric ? ", and so is its mirror image (symmetric)" : "") << "\n";
  if (!notes.mirrored.empty())
    err << warning << "every off-diagonal entry lies " << (notes.mirrored == "lower" ? "below" : "above")
        << " the diagonal: read as the " << notes.mirrored
        << " triangle of a symmetric matrix and mirrored to the other side\n";
}

}  // namespace

bool known_input_format(std::string_view format) { return format == "mtx" || format == "npy" || format == "txt"; }

// A Matrix Market file that the user names as one is read without its
// banner too (files are passed around that way); the warning says what was
// assumed, before any message about a later line.
Matrix read_any_matrix(const std::string& path, const std::optional<std::string>& format, std::string_view command,
                       std::ostream& err) {
  const std::string text = read_file(path);
  const std::string chosen = input_format(path, format, text);
  if (chosen == "npy") return read_npy({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, path);
  if (chosen == "txt") return read_text_matrix(text, path);
  MatrixMarketNotes notes;
  try {
    Matrix m = read_matrix_market(text, path, &notes);
    warn_of(path, notes, command, err);
    return m;
  } catch (const ToolError&) {
    warn_of(path, notes, command, err);
    throw;
  }
}

// blockeig's two phases read different parts of a matrix that is not
// symmetric; say so before it goes unnoticed.
void warn_if_not_symmetric(const std::string& path, const Matrix& m, std::string_view command, std::ostream& err) {
  const Asymmetry a = find_asymmetry(m);
  if (a.symmetric()) return;
  const std::string prefix = "scrtool " + std::string(command) + ": ";
  err << prefix << "warning: " << path << ": the matrix is not symmetric; largest |A(i,j)-A(j,i)| is "
      << asymmetry_text(a) << "\n"
      << prefix << "blockeig's direct solve reads the lower triangle and the diagonal, its block sweeps all of A; "
      << (command == "import" ? "" : "scrtool import ") << "--symmetrize lower|upper|average makes them one matrix\n";
}

bool looks_like_scr(const std::string& path) {
  if (extension_of(path) == ".scr") return true;
  const FileSource file(path);
  std::uint8_t head[4] = {};
  if (file.read(0, head) != sizeof head) return false;
  const bool little = head[0] == 4 && head[1] == 0 && head[2] == 0 && head[3] == 0;
  const bool big = head[0] == 0 && head[1] == 0 && head[2] == 0 && head[3] == 4;
  return little || big;
}

}  // namespace scrtool
