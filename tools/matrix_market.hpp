#pragma once
// Matrix Market exchange files: "array" and "coordinate" format; "real",
// "double" and "integer" fields; "general", "symmetric" and
// "skew-symmetric" layouts.
#include <string_view>

#include "tools/matrix.hpp"
#include "tools/record_codec.hpp"

namespace scrtool {

// Parses a whole Matrix Market file. `name` prefixes the messages. Throws
// ToolError naming line and column for a malformed or non-square file, and
// for an order blockeig cannot read.
//
// Files are also passed around without their first line, the banner. When
// `assumed` is given, a file whose first line is a size line is read as
// "%%MatrixMarket matrix coordinate real general" (rows, columns and
// entries) or "... array real general" (rows and columns), and that banner
// is put in *assumed as soon as it is chosen (before a later line can fail);
// *assumed is left empty for a file with its banner. Without `assumed` such
// a file is refused at 1:1.
Matrix read_matrix_market(std::string_view text, std::string_view name, std::string* assumed = nullptr);

// Writes "array real symmetric" (the lower triangle) when `m` equals its
// transpose bit for bit, "array real general" otherwise; every value in its
// shortest exact decimal form.
void emit_matrix_market(const Matrix& m, const ByteSink& sink);

}  // namespace scrtool
