// The library's calls timed from C++, for bench/library_overheads.py, which
// sets the same calls from Python and the program's own block phase beside
// them:
//
//   library_bench A.SCR NBLOCKS REPEATS
//
// prints one line per measure: "call S" (the best time of a call on an
// order-2 matrix: what a call costs besides its arithmetic), "direct S" (the
// best of REPEATS eigenvalues() on the file's matrix), "sweeps S ITER" (one
// block_sweeps() in NBLOCKS blocks).
#include <cstdio>
#include <cstdlib>

#include "bench/bench_support.hpp"
#include "blockeig/blockeig.hpp"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: library_bench A.SCR NBLOCKS REPEATS\n");
    return 2;
  }
  using blockeig::bench::Clock;
  const blockeig::Matrix m = blockeig::read_scr(argv[1]);
  const int nblocks = std::atoi(argv[2]);
  const int repeats = std::atoi(argv[3]);
  const double tiny[] = {2.0, 1.0, 1.0, 2.0};
  const auto seconds = [](auto&& call, int count) {
    double best = 1e300;
    for (int k = 0; k < count; ++k) {
      const auto t0 = Clock::now();
      call();
      best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
  };
  std::printf("call %.9f\n", seconds([&] { blockeig::eigenvalues({tiny, 2, 2}); }, 2000));
  std::printf("direct %.6f\n", seconds([&] { blockeig::eigenvalues(m.ref()); }, repeats));
  blockeig::BlockResult r;
  const double sweeps = seconds([&] { r = blockeig::block_sweeps(m.ref(), nblocks); }, 1);
  std::printf("sweeps %.6f %d\n", sweeps, static_cast<int>(r.sweeps));
  return 0;
}
