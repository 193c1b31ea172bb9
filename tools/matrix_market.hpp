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
Matrix read_matrix_market(std::string_view text, std::string_view name);

// Writes "array real symmetric" (the lower triangle) when `m` equals its
// transpose bit for bit, "array real general" otherwise; every value in its
// shortest exact decimal form.
void emit_matrix_market(const Matrix& m, const ByteSink& sink);

}  // namespace scrtool
