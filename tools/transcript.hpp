#pragma once
// A saved blockeig console transcript: the order, the direct solve's
// summary line "(4g12.3)", the block table and the block and sweep lines
// "(i5,6g12.3)".
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace scrtool {

struct SweepLine {
  std::int32_t iter = 0;
  double e1 = 0, e2 = 0, en1 = 0, en = 0;  // E(1), E(2), E(N-1), E(N)
  double delta = 0, tol = 0;
  std::int64_t line = 0;  // line number in the transcript
};

struct Transcript {
  std::optional<std::int32_t> n;
  std::optional<std::int32_t> ierr;
  // E(1), E(2), E(N-1), E(N) of the direct solve.
  std::optional<std::array<double, 4>> summary;
  std::int32_t nblocks = 0;     // rows of the block table
  std::int64_t block_lines = 0;  // block lines seen
  std::vector<SweepLine> sweeps;
};

// Reads one field written under G12.3 ("   -1.50    ", "   0.100E+13",
// "   0.494-323", "         NaN", "    +Inf    "). False if it is none.
bool parse_g_field(std::string_view field, double& value);

// Reads a transcript (line feeds, optionally CR LF). Lines it does not know
// are skipped, so a transcript that also holds the typed block count or a
// shell prompt is fine. Throws ToolError with the line number for a summary,
// block or sweep line whose fields do not read, for sweeps that are not
// numbered 1, 2, 3, ..., and for a transcript with no sweep line at all.
Transcript read_transcript(std::string_view text, std::string_view name);

}  // namespace scrtool
