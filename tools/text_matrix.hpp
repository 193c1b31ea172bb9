#pragma once
// Plain text matrices: one row per line, numbers separated by blanks or
// tabs, "#" starting a comment, blank lines skipped, and optionally a first
// line holding the order alone.
#include <string_view>

#include "tools/matrix.hpp"
#include "tools/record_codec.hpp"

namespace scrtool {

// Throws ToolError naming line and column for a malformed or non-square text.
Matrix read_text_matrix(std::string_view text, std::string_view name);

// One row per line, each value in its shortest exact decimal form, no order line.
void emit_text_matrix(const Matrix& m, const ByteSink& sink);

}  // namespace scrtool
