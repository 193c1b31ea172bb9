// What the results file costs a run: the writer's work for one sweep
// (formatting every block's W and replacing the file, flushed to disk)
// against the block phase's own work for one sweep, measured in one process
// at N = 2000 with 8 blocks of 250 (the order at which the file is rewritten
// 101 times in the README's whole-program benchmark).
//
//   results_file_bench [N [NBLOCKS [DIRECTORY]]]
//
// The document is written in DIRECTORY (default: the working directory), on
// the disk whose flushes it measures.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/block_sweep.hpp"
#include "arithmetic/extended.hpp"
#include "records/results_file.hpp"
#include "records/sha256.hpp"
#include "runtime/thread_pool.hpp"
#include "runtime/startup.hpp"

using namespace blockeig;
using blockeig::bench::Clock;

int main(int argc, char** argv) {
  const int N = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int NBLOCKS = argc > 2 ? std::atoi(argv[2]) : 8;
  const std::string directory = argc > 3 ? argv[3] : ".";
  const int M = N / NBLOCKS;
  const int threads = 2;
  set_extended_environment();
  set_thread_count(threads);
  std::printf("results_file_bench: N = %d, %d blocks of %d, %d threads, load average %.2f\n", N, NBLOCKS, M, threads,
              bench::load_average());

  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> uniform(-1, 1);
  const std::vector<double> A = bench::random_symmetric(N, 7);
  const std::vector<double> C = bench::random_matrix(A.size(), 8);

  const double sweep_seconds = bench::one_sweep_seconds(N, NBLOCKS, A, C);
  std::printf("one sweep of the block phase: %.3f s\n", sweep_seconds);

  // The writer, on values with 16 and 17 significant digits, as a run's are.
  const std::string path = directory + "/results_file_bench.json";
  ResultsFile file(path);
  const auto t_start = Clock::now();
  file.begin(BLOCKEIG_VERSION, threads, "native");
  if (const int error = file.write(); error != 0) {
    std::printf("cannot write %s: %s\n", path.c_str(), std::strerror(error));
    return 1;
  }
  Sha256 digest;
  digest.update({reinterpret_cast<const std::uint8_t*>(A.data()), A.size() * sizeof(double)});
  file.input("A.SCR", N, static_cast<std::int64_t>(A.size()) * 8 + 20, hex_digest(digest.finish()), 0.5);
  std::vector<double> E(static_cast<std::size_t>(N));
  for (double& e : E) e = uniform(random) * 100;
  file.direct(0, E, 15.0);
  file.write();
  const double start_seconds = bench::seconds_since(t_start);
  std::vector<std::int32_t> BDIM(static_cast<std::size_t>(NBLOCKS), M), BSTART(static_cast<std::size_t>(NBLOCKS));
  for (int b = 0; b < NBLOCKS; ++b) BSTART[static_cast<std::size_t>(b)] = 1 + b * M;
  file.layout(NBLOCKS, {}, BDIM, BSTART);

  constexpr int sweeps = 101;
  double total = 0, largest = 0;
  for (int s = 1; s <= sweeps; ++s) {
    for (double& e : E) e = uniform(random) * 100;
    const auto t0 = Clock::now();
    for (int b = 0; b < NBLOCKS; ++b)
      file.block(b + 1, std::span<const double>(E).subspan(static_cast<std::size_t>(b) * M, static_cast<std::size_t>(M)));
    file.sweep(s, E, uniform(random), sweep_seconds);
    if (const int error = file.write(); error != 0) {
      std::printf("cannot write %s: %s\n", path.c_str(), std::strerror(error));
      return 1;
    }
    const double spent = bench::seconds_since(t0);
    total += spent;
    largest = std::max(largest, spent);
  }
  const auto t_end = Clock::now();
  file.end(sweeps, 1.0, 1.0e-6, E, 101 * sweep_seconds);
  file.write();
  const double end_seconds = bench::seconds_since(t_end);
  const auto size = std::filesystem::file_size(path);
  std::filesystem::remove(path);

  const double run = sweeps * sweep_seconds;
  const double cost = start_seconds + total + end_seconds;
  std::printf("results file: start and direct phase %.3f s, per sweep mean %.4f s (largest %.4f s), end %.3f s; "
              "document %.1f MB\n",
              start_seconds, total / sweeps, largest, end_seconds, double(size) / 1e6);
  std::printf("cost: %.2f s for %d sweeps, %.2f%% of their %.0f s (the direct phase not counted)\n", cost, sweeps,
              100 * cost / run, run);
  std::printf("load average at the end: %.2f\n", bench::load_average());
}
