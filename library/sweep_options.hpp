#pragma once
// What block_sweeps' options ask of the sweeps besides the program's run:
// another rule, another layout, another start. Each is checked against the
// matrix before any work, and refused with the reason (blockeig::Error);
// the defaults give exactly the program's.
#include <cstdint>
#include <vector>

#include "blockeig/blockeig.hpp"
#include "runtime/run_constants.hpp"

namespace blockeig::library {

// The rule of options.tol and options.max_sweeps. Throws bad_sweep_rule.
run::SweepRule sweep_rule_of(const Options& options);

// nblocks blocks of the order-N matrix: options.partition, or the program's
// cut when it is empty. Throws bad_block_count for a count outside 1 to N/2
// (before taking any memory), bad_partition for sizes that are not nblocks
// numbers of at least 2 summing to N.
struct BlockLayout {
  std::vector<std::int32_t> BDIM, BSTART;
};
BlockLayout lay_out(const Options& options, std::int32_t N, std::int32_t nblocks);

// Whether options.start gives a basis; checks its shape (order N, a leading
// dimension that holds it, data) without reading it. Throws bad_start.
bool has_start(const Options& options, std::int32_t N);

// C (N x N, column by column) becomes options.start. Its columns must be
// orthonormal: every element of C^T C (formed as the sweeps form their
// products, in extended precision) within 1e-12 of the identity's; `gram`
// (N x N doubles) is scratch. Throws bad_start naming the worst element.
void set_start(const Options& options, std::int32_t N, double* C, double* gram);

}  // namespace blockeig::library
