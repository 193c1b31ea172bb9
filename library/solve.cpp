// The direct solve and the block sweeps, on the engine the program runs.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "blockeig/blockeig.hpp"
#include "engine/direct_solve.hpp"
#include "engine/sweep_engine.hpp"
#include "eigen/solver.hpp"
#include "library/call.hpp"
#include "library/sweep_options.hpp"
#include "runtime/run_constants.hpp"

namespace blockeig {

namespace {

using library::refuse_memory;

MatrixInPlace in_place(const MatrixRef& a) {
  return {a.data, library::checked_order(a), static_cast<std::ptrdiff_t>(a.row_stride),
          static_cast<std::ptrdiff_t>(a.ld)};
}

std::unique_ptr<double[]> doubles(std::size_t count) {
  std::unique_ptr<double[]> p(new (std::nothrow) double[count]);
  if (!p) refuse_memory();
  return p;
}

std::size_t square(std::int32_t n) { return static_cast<std::size_t>(n) * static_cast<std::size_t>(n); }

DirectSolution solve_directly(const MatrixRef& a, const Options& options, bool vectors) {
  const MatrixInPlace A = in_place(a);
  return library::guarded([&] {
    library::Call call(options.threads);
    DirectSolution result;
    result.values.resize(static_cast<std::size_t>(A.N));
    std::unique_ptr<double[]> scratch;
    double* C = nullptr;
    if (vectors) {
      result.vectors.resize(square(A.N));
      C = result.vectors.data();
    } else {
      scratch = doubles(square(A.N));
      C = scratch.get();
    }
    Tred12Work work;
    if (!work.obtain(A.N)) refuse_memory();
    direct_solve(A, C, result.values.data(), result.IERR, work, vectors);
    return result;
  });
}

// The block sweeps' memory from the heap, a refusal thrown; every block's W
// kept for the observer, which sees every sweep's end. An exception of the
// observer's is marked as its own (`observer_threw`) on its way out.
class LibrarySweeps final : public SweepHost {
 public:
  LibrarySweeps(BlockResult& result, const Observer& observer, library::Call& call, std::int32_t N,
                bool& observer_threw)
      : result_(result), observer_(observer), call_(call), W_(static_cast<std::size_t>(N)), column_(doubles(N)),
        observer_threw_(observer_threw) {}
  void obtain_work(std::int32_t N, BlockRun& run) override {
    if (!take_block_work(N, run)) refuse_memory();
  }
  void release_work(BlockRun& run) override { give_back_block_work(run); }
  void block_solved(const Block& block, std::span<const double> W) override {
    std::copy(W.begin(), W.end(), W_.begin() + (block.start - 1));
  }
  void reorder(const Layout& layout, double* C, double* E) override {
    reporder2(layout.N, E, C, layout.NBLOCKS, layout.BSTART, column_.get());
  }
  bool sweep_ended(const SweepState& state, const double* /*C*/, const double* /*E*/) override {
    if (!observer_) return false;
    const Sweep sweep{state.ITER, result_.BDIM, result_.BSTART, W_, result_.E, state.DELTA};
    try {
      stopped_ = call_.as_caller([&] { return observer_(sweep); }) == Decision::stop;
    } catch (...) {
      observer_threw_ = true;
      throw;
    }
    return stopped_;
  }
  bool stopped() const { return stopped_; }

 private:
  BlockResult& result_;
  const Observer& observer_;
  library::Call& call_;
  std::vector<double> W_;
  std::unique_ptr<double[]> column_;
  bool& observer_threw_;
  bool stopped_ = false;
};

// A as the engine reads it: column by column with leading dimension N. A
// matrix the caller holds otherwise is copied so.
const double* column_major(const MatrixRef& a, const MatrixInPlace& A, std::unique_ptr<double[]>& copy) {
  if (a.row_stride == 1 && a.ld == a.n) return a.data;
  copy = doubles(square(A.N));
  const std::size_t n = static_cast<std::size_t>(A.N);
  for (std::int32_t c = 1; c <= A.N; ++c)
    for (std::int32_t r = 1; r <= A.N; ++r) copy[static_cast<std::size_t>(r - 1) + static_cast<std::size_t>(c - 1) * n] = A(r, c);
  return copy.get();
}

}  // namespace

std::int32_t max_block_count(std::int32_t n) noexcept { return n < 0 ? 0 : run::max_block_count(n); }

DirectSolution eigenvalues(MatrixRef a, const Options& options) { return solve_directly(a, options, false); }

DirectSolution eigensystem(MatrixRef a, const Options& options) { return solve_directly(a, options, true); }

BlockResult block_sweeps(MatrixRef a, std::int32_t nblocks, const Observer& observer, const Options& options) {
  const MatrixInPlace A = in_place(a);
  const std::int32_t N = A.N;
  const run::SweepRule rule = library::sweep_rule_of(options);
  bool observer_threw = false;
  return library::guarded([&] {
    library::BlockLayout blocks = library::lay_out(options, N, nblocks);
    const bool start_given = library::has_start(options, N);
    library::Call call(options.threads);
    std::unique_ptr<double[]> copy;
    const double* A_data = column_major(a, A, copy);
    BlockResult result;
    result.BDIM = std::move(blocks.BDIM);
    result.BSTART = std::move(blocks.BSTART);
    const Layout layout{N, nblocks, result.BDIM.data(), result.BSTART.data()};
    const std::unique_ptr<double[]> C = doubles(square(N));
    if (start_given)
      library::set_start(options, N, C.get(), doubles(square(N)).get());
    else
      set_identity(N, C.get());
    result.E.resize(static_cast<std::size_t>(N));
    LibrarySweeps sweeps(result, observer, call, N, observer_threw);

    SweepState state;
    run_sweeps(layout, A_data, C.get(), result.E.data(), rule, state, sweeps);
    result.sweeps = state.ITER;
    result.DELTA = state.DELTA;
    result.converged = state.DELTA <= rule.TOL;
    result.stopped = sweeps.stopped();
    return result;
  }, observer_threw);
}

}  // namespace blockeig
