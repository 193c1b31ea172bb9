#pragma once
// Matrix Market exchange files: "array" and "coordinate" format; "real",
// "double", "integer" and (coordinate only) "pattern" fields; "general",
// "symmetric" and "skew-symmetric" layouts.
#include <string>
#include <string_view>

#include "tools/matrix.hpp"
#include "tools/record_codec.hpp"

namespace scrtool {

// What a reading took for granted, for the warnings a caller gives. Each
// member is set as soon as it is known (before a later line can fail).
struct MatrixMarketNotes {
  // The banner assumed for a file without one; empty for a file with its
  // banner.
  std::string assumed;
  // A pattern file: its entries have no values, and each is 1.0 (in both
  // triangles for a symmetric one).
  bool pattern = false;
  bool symmetric = false;
  // "lower" or "upper": a file without its banner whose off-diagonal
  // entries all lie on that side of the diagonal, taken as that triangle of
  // a symmetric matrix and mirrored; empty otherwise.
  std::string mirrored;
};

// Parses a whole Matrix Market file. `name` prefixes the messages. Throws
// ToolError naming line and column for a malformed or non-square file, and
// for an order blockeig cannot read.
//
// Files are also passed around without their first line, the banner. When
// `notes` is given, a file whose first line is a size line is read as
// "%%MatrixMarket matrix coordinate real general" (rows, columns and
// entries) or "... array real general" (rows and columns), and that banner
// is put in notes->assumed. Such a coordinate file whose off-diagonal
// entries all lie on one side of the diagonal is one triangle of a
// symmetric matrix, as collections often ship them: it is mirrored.
// Without `notes` such a file is refused at 1:1.
Matrix read_matrix_market(std::string_view text, std::string_view name, MatrixMarketNotes* notes = nullptr);

// Writes "array real symmetric" (the lower triangle) when `m` equals its
// transpose bit for bit, "array real general" otherwise; every value in its
// shortest exact decimal form.
void emit_matrix_market(const Matrix& m, const ByteSink& sink);

}  // namespace scrtool
