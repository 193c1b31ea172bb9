// What the checkpoint costs a run: one checkpoint of the state at N = 2000
// with 8 blocks of 250 (the results file's state and the console lines of
// 100 sweeps included, as late in a run as they get), taken apart into its
// digest and its flushed write, against one sweep of the block phase in the
// same process; and what a resume costs (the check at start-up and the
// loading before the first sweep).
//
//   checkpoint_bench [N [NBLOCKS [DIRECTORY]]]
//
// The checkpoint is written in DIRECTORY (default: the working directory),
// on the disk whose flushes it measures.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/block_sweep.hpp"
#include "arithmetic/extended.hpp"
#include "runtime/console_texts.hpp"
#include "io/format_control.hpp"
#include "records/checkpoint_file.hpp"
#include "records/results_file.hpp"
#include "runtime/thread_pool.hpp"
#include "runtime/replace_file.hpp"
#include "runtime/run_constants.hpp"
#include "runtime/startup.hpp"

using namespace blockeig;
using blockeig::bench::Clock;

namespace {

// A console line of the block phase as the program prints it: a block's
// number and four values, or a sweep's and six.
std::string console_line(std::initializer_list<io::Item> items) {
  struct Line : io::RecordSink {
    std::string text;
    void record(std::string_view record) override { text = std::string(record) + "\n"; }
  } line;
  std::string record;
  io::write_formatted_records(io::parse_format(console_text::iteration_format).format, items, record, line);
  return line.text;
}

}  // namespace

int main(int argc, char** argv) {
  const int N = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int NBLOCKS = argc > 2 ? std::atoi(argv[2]) : 8;
  const std::string directory = argc > 3 ? argv[3] : ".";
  const int M = N / NBLOCKS;
  const int threads = 2;
  constexpr int sweeps = 100;  // the most a checkpoint holds
  set_extended_environment();
  set_thread_count(threads);
  std::printf("checkpoint_bench: N = %d, %d blocks of %d, %d threads, load average %.2f\n", N, NBLOCKS, M, threads,
              bench::load_average());

  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> uniform(-1, 1);
  const std::vector<double> A = bench::random_symmetric(N, 7);
  std::vector<double> C = bench::random_matrix(A.size(), 8), E(static_cast<std::size_t>(N));
  for (double& e : E) e = uniform(random) * 100;

  const double sweep_seconds = bench::one_sweep_seconds(N, NBLOCKS, A, C);
  std::printf("one sweep of the block phase: %.3f s\n", sweep_seconds);

  // The results file's document after 100 sweeps, and their console lines.
  ResultsFile results(directory + "/checkpoint_bench.json");
  results.begin(BLOCKEIG_VERSION, threads, "native");
  results.input("A.SCR", N, static_cast<std::int64_t>(A.size()) * 8 + 20, std::string(64, '0'), 0.5);
  results.direct(0, E, 15.0);
  std::vector<std::int32_t> BDIM(static_cast<std::size_t>(NBLOCKS), M), BSTART(static_cast<std::size_t>(NBLOCKS));
  for (int b = 0; b < NBLOCKS; ++b) BSTART[static_cast<std::size_t>(b)] = 1 + b * M;
  results.layout(NBLOCKS, {}, BDIM, BSTART);
  std::string output;
  for (int s = 1; s <= sweeps; ++s) {
    for (int b = 0; b < NBLOCKS; ++b) {
      results.block(b + 1, std::span<const double>(E).subspan(static_cast<std::size_t>(b) * M, static_cast<std::size_t>(M)));
      output += console_line({b + 1, -1.5 * (b + 1), 2.25, 3.5, 4.75});
    }
    const double DELTA = uniform(random);
    results.sweep(s, E, DELTA, sweep_seconds);
    output += console_line({s, E[0], E[1], E[N - 2], E[N - 1], DELTA, run::TOL});
  }

  CheckpointFields fields;
  fields.N = N;
  fields.NBLOCKS = NBLOCKS;
  fields.ITER = sweeps;
  fields.EPREV = E[0];
  const std::string path = directory + "/checkpoint_bench.ckpt";
  const runtime::FileReplacement replacement(path);
  constexpr int writes = 8;
  double state_total = 0, digest_total = 0, write_total = 0, largest = 0;
  for (int k = 0; k < writes; ++k) {
    const auto t0 = Clock::now();
    const ResultsFile::State state = results.save_state();
    const auto pieces = state.pieces();
    const auto t1 = Clock::now();
    const CheckpointImage image(fields, C.data(), E.data(), std::string_view(output), pieces);
    const auto t2 = Clock::now();
    if (const int error = replacement.replace(image.pieces()); error != 0) {
      std::printf("cannot write %s: %s\n", path.c_str(), std::strerror(error));
      return 1;
    }
    const auto t3 = Clock::now();
    state_total += std::chrono::duration<double>(t1 - t0).count();
    digest_total += std::chrono::duration<double>(t2 - t1).count();
    write_total += std::chrono::duration<double>(t3 - t2).count();
    largest = std::max(largest, std::chrono::duration<double>(t3 - t0).count());
  }
  const double mean = (state_total + digest_total + write_total) / writes;
  const auto size = std::filesystem::file_size(path);
  std::printf("one checkpoint (%.1f MB): %.3f s mean, %.3f s largest: results state %.3f s, digest %.3f s, "
              "write and flushes %.3f s\n",
              double(size) / 1e6, mean, largest, state_total / writes, digest_total / writes, write_total / writes);

  // A resume: the whole file checked at start-up (its digest, then its
  // content as input), then loaded.
  const auto t_resume = Clock::now();
  const int fd = ::open(path.c_str(), O_RDONLY);
  CheckpointFields found;
  std::string problem = check_checkpoint(fd, found);
  if (problem.empty()) problem = check_checkpoint_content(fd, found);
  ResultsStateCheck state_check(found.ITER, found.N);
  if (problem.empty())
    problem = read_piecewise(fd, results_state_offset(found), found.results_bytes,
                             [&](std::string_view piece) { state_check.feed(piece); });
  if (problem.empty() && !state_check.finish()) problem = "holds a results state that does not fit";
  const double check_seconds = bench::seconds_since(t_resume);
  TextStore lines, state;
  lines.open();
  state.open();
  if (problem.empty()) problem = load_checkpoint(fd, found, C.data(), E.data(), lines, state);
  ::close(fd);
  const double resume_seconds = bench::seconds_since(t_resume);
  std::filesystem::remove(path);
  if (!problem.empty()) {
    std::printf("the checkpoint %s\n", problem.c_str());
    return 1;
  }
  std::printf("resume: check %.3f s, check and load %.3f s\n", check_seconds, resume_seconds);

  // At the default interval a checkpoint follows at least 60 s of sweeps.
  std::printf("cost at the default interval: at most %.2f%% (one checkpoint per 60 s); "
              "every sweep: %.1f%% (one per %.2f s sweep)\n",
              100 * mean / 60, 100 * mean / sweep_seconds, sweep_seconds);
  std::printf("load average at the end: %.2f\n", bench::load_average());
}
