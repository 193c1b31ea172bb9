#pragma once
// Reading a matrix file that is not an A.SCR, as scrtool import and scrtool
// study do: Matrix Market, NumPy .npy or a text table, with the warnings of
// what was assumed on the way (no banner, a pattern file, a triangle
// mirrored, a matrix that is not symmetric).
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "tools/matrix.hpp"

namespace scrtool {

// The formats a file may be read as: "mtx", "npy", "txt".
bool known_input_format(std::string_view format);

// Reads `path` as `format` when given (a known one), else as its extension
// names, else as its content tells. Warnings go to `err`, each line
// beginning "scrtool COMMAND: warning: ", before any message about a later
// line. Throws ToolError for a file that cannot be read or converted.
Matrix read_any_matrix(const std::string& path, const std::optional<std::string>& format, std::string_view command,
                       std::ostream& err);

// The warning for a matrix that is not symmetric, which blockeig's two
// phases would read differently; nothing for a symmetric one.
void warn_if_not_symmetric(const std::string& path, const Matrix& m, std::string_view command, std::ostream& err);

// Whether the file holds an A.SCR rather than a matrix to import: its name
// ends in .scr (in any case), or its first four bytes are the length marker
// of record 1 (4, little- or big-endian), which no text, Matrix Market or
// .npy file starts with.
bool looks_like_scr(const std::string& path);

}  // namespace scrtool
