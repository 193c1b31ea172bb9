#include "library/sweep_options.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>

#include "eigen/block_products.hpp"
#include "engine/sweep_engine.hpp"

namespace blockeig::library {

namespace {

// How far from the identity C^T C of a start basis may be, element by
// element: rounding in forming an orthonormal basis leaves some 1e-15.
constexpr double orthonormal_within = 1.0e-12;

static_assert(Options{}.tol == run::TOL && Options{}.max_sweeps == run::max_sweeps,
              "the options' defaults are the program's rule");

// A double in its shortest exact form, for a message.
std::string shortest(double value) {
  char text[32];
  return {text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text)};
}

[[noreturn]] void refuse_start(const std::string& why) { throw Error(Errc::bad_start, "start: " + why); }

}  // namespace

run::SweepRule sweep_rule_of(const Options& options) {
  const run::SweepRule rule{options.tol, options.max_sweeps};
  if (!run::SweepRule{options.tol}.valid())
    throw Error(Errc::bad_sweep_rule, "tol " + shortest(options.tol) + " is not a positive number");
  if (!rule.valid())
    throw Error(Errc::bad_sweep_rule, "max_sweeps " + std::to_string(options.max_sweeps) + " is not from 1 to " +
                                          std::to_string(run::max_sweeps_limit));
  return rule;
}

BlockLayout lay_out(const Options& options, std::int32_t N, std::int32_t nblocks) {
  if (nblocks < 1 || nblocks > run::max_block_count(N))
    throw Error(Errc::bad_block_count, "block count " + std::to_string(nblocks) + " is not from 1 to " +
                                           std::to_string(run::max_block_count(N)) +
                                           " (every block needs at least 2 positions)");
  BlockLayout layout{std::vector<std::int32_t>(static_cast<std::size_t>(nblocks)),
                     std::vector<std::int32_t>(static_cast<std::size_t>(nblocks))};
  const std::vector<std::int32_t>& sizes = options.partition;
  if (sizes.empty()) {
    lay_out_blocks(N, nblocks, layout.BDIM.data(), layout.BSTART.data());
    return layout;
  }
  if (sizes.size() != static_cast<std::size_t>(nblocks))
    throw Error(Errc::bad_partition, "partition has " + std::to_string(sizes.size()) + " block sizes for " +
                                         std::to_string(nblocks) + " blocks");
  std::int64_t sum = 0;
  for (std::size_t b = 0; b < sizes.size(); ++b) {
    if (sizes[b] < run::min_block_size)
      throw Error(Errc::bad_partition, "partition: block " + std::to_string(b + 1) + " has size " +
                                           std::to_string(sizes[b]) + "; every block needs at least 2 positions");
    sum += sizes[b];
  }
  if (sum != N)
    throw Error(Errc::bad_partition, "partition: the block sizes add up to " + std::to_string(sum) +
                                         ", not to the order " + std::to_string(N));
  std::int32_t start = 1;
  for (std::size_t b = 0; b < sizes.size(); ++b) {
    layout.BDIM[b] = sizes[b];
    layout.BSTART[b] = start;
    start += sizes[b];
  }
  return layout;
}

bool has_start(const Options& options, std::int32_t N) {
  const MatrixRef& s = options.start;
  if (s.data == nullptr) return false;
  if (s.n != N) refuse_start("its order is " + std::to_string(s.n) + ", the matrix's " + std::to_string(N));
  if (s.row_stride == 1 && s.ld < s.n)
    refuse_start("leading dimension " + std::to_string(s.ld) + " is below the order " + std::to_string(s.n));
  return true;
}

void set_start(const Options& options, std::int32_t N, double* C, double* gram) {
  const MatrixRef& s = options.start;
  const std::size_t n = static_cast<std::size_t>(N);
  for (std::size_t c = 0; c < n; ++c)
    for (std::size_t r = 0; r < n; ++r)
      C[r + c * n] = s.data[static_cast<std::ptrdiff_t>(r) * s.row_stride + static_cast<std::ptrdiff_t>(c) * s.ld];
  // The lower triangle of C^T C, as a block's projection is formed.
  block_projection(N, N, C, C, gram);
  // The element furthest from the identity's; the first NaN, if any.
  double worst = 0;
  std::size_t worst_r = 0, worst_c = 0;
  for (std::size_t c = 0; c < n && !std::isnan(worst); ++c)
    for (std::size_t r = c; r < n && !std::isnan(worst); ++r)
      if (const double off = std::fabs(gram[r + c * n] - (r == c ? 1.0 : 0.0)); !(off <= worst)) {
        worst = off;
        worst_r = r;
        worst_c = c;
      }
  if (worst <= orthonormal_within) return;
  const double element = gram[worst_r + worst_c * n];
  const std::string columns = worst_r == worst_c ? "column " + std::to_string(worst_c + 1) + " has squared length "
                                                  : "columns " + std::to_string(worst_c + 1) + " and " +
                                                        std::to_string(worst_r + 1) + " have dot product ";
  refuse_start("its columns are not orthonormal: " + columns + shortest(element) + " (more than " +
               shortest(orthonormal_within) + " from " + (worst_r == worst_c ? "1" : "0") + ")");
}

}  // namespace blockeig::library
