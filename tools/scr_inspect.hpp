#pragma once
// `scrtool info`: everything worth knowing about an A.SCR before handing it
// to blockeig.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/matrix.hpp"
#include "tools/record_codec.hpp"
#include "tools/scr_file.hpp"
#include "tools/scr_verdict.hpp"
#include "tools/symmetry.hpp"

namespace scrtool {

struct MatrixFacts {
  Asymmetry asymmetry;
  double frobenius = 0;  // Frobenius norm over the finite elements
  std::int64_t nan_count = 0;
  std::int64_t infinite_count = 0;
};
MatrixFacts measure(const Matrix& m);

struct Inspection {
  std::int64_t file_size = 0;
  OrderGuess order;
  std::vector<RecordFrame> frames;   // framed in order.order
  Verdict as_is;                     // blockeig reading little-endian, its default
  std::optional<Verdict> reversed;   // blockeig with byte reversal, for a big-endian file
  std::optional<std::int32_t> n;     // as read in order.order
  std::optional<MatrixFacts> facts;  // when the matrix could be read
  std::vector<std::string> notes;    // things blockeig tolerates silently
};
Inspection inspect_scr(const ByteSource& file);

// "0", or the largest difference, its place and how many pairs differ:
// "0.5 at A(3,1) = 2.5, A(1,3) = 2 (1 of 3 pairs differ)".
std::string asymmetry_text(const Asymmetry& asymmetry);

// The report `scrtool info` prints for a file called `name`.
std::string render_inspection(const Inspection& inspection, std::string_view name);

}  // namespace scrtool
