#pragma once
// The direct and the final block eigenvalues of a results file side by
// side, paired by rank, with their difference: as a text table or as CSV.
#include <string>
#include <string_view>

#include "tools/run_results.hpp"

namespace scrtool {

// A heading line that says what the final values are, then one row per
// rank: rank, position, direct, block, block - direct. Every number in the
// shortest form that reads back as the same double; the difference is the
// exact difference rounded once.
std::string render_pair_table(const RunResults& results, std::string_view source_name);
// "rank,position,direct,block,difference" and one line per rank.
std::string render_pair_csv(const RunResults& results);

}  // namespace scrtool
