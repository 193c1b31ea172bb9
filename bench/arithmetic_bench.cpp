// The software extended arithmetic against the x87 unit, on the same
// machine in one run: the arithmetic of a whole run (N = 1000, 8 blocks, all
// 101 sweeps) replayed phase by phase on one thread, the block products'
// rate, and the whole program on two threads, with both builds (their
// transcripts and C.SCR.TXT must be the same bytes). bench/arithmetic builds
// both and runs
//
//   arithmetic_bench compare PEER_BENCH PEER_BLOCKEIG [--quick]
//
// from the x87 build, PEER_* being the software build's. It prints the table
// of docs/performance.md. `arithmetic_bench replay N BLOCKS SWEEPS` prints
// one build's phases (the compare mode runs it in the peer).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.hpp"
#include "bench/program_bench.hpp"
#include "bench/program_run.hpp"
#include "arithmetic/extended.hpp"
#include "support/child_process.hpp"

namespace {

using namespace blockeig::bench;

// The phases as one line: direct, T, H, solves, CNEW, copies, reorder.
std::string phase_line(const Phases& p) {
  char line[256];
  std::snprintf(line, sizeof line, "%.6f %.6f %.6f %.6f %.6f %.6f %.6f", p.direct, p.times, p.projection, p.solves,
                p.rotation, p.copies, p.reorder);
  return line;
}

Phases parse_phases(const std::string& line) {
  Phases p;
  std::istringstream in(line);
  in >> p.direct >> p.times >> p.projection >> p.solves >> p.rotation >> p.copies >> p.reorder;
  return p;
}

// A run's matrix: entries uniform in (-1e9, 1e9), so that E(1) keeps moving
// and all 101 sweeps run.
std::vector<double> run_matrix(int n) {
  std::vector<double> a = random_symmetric(n, 11);
  for (double& x : a) x *= 1e9;
  return a;
}

Phases best(const Phases& a, const Phases& b) {
  return {std::min(a.direct, b.direct),     std::min(a.times, b.times),   std::min(a.projection, b.projection),
          std::min(a.solves, b.solves),     std::min(a.rotation, b.rotation), std::min(a.copies, b.copies),
          std::min(a.reorder, b.reorder)};
}

Phases peer_replay(const std::string& peer, int n, int blocks, int sweeps) {
  blockeig::testing::ChildOptions options;
  options.directory = std::filesystem::current_path();
  options.timeout_seconds = 24 * 3600;
  const blockeig::testing::ChildResult r =
      blockeig::testing::run_child(peer, {"replay", std::to_string(n), std::to_string(blocks), std::to_string(sweeps)},
                                   options);
  if (r.status != 0) {
    std::fprintf(stderr, "arithmetic_bench: the peer's replay failed: %s\n", r.err.c_str());
    std::exit(1);
  }
  return parse_phases(r.out);
}

double products(const Phases& p) { return p.times + p.projection + p.rotation; }
double others(const Phases& p) { return p.copies + p.reorder; }

void row(const char* name, double x87, double software) {
  std::printf("| %s | %.2f | %.2f | %.2f |\n", name, x87, software, software / x87);
}

int compare(const std::string& peer_bench, const std::string& peer_program, bool quick) {
  const int n = quick ? 300 : 1000, blocks = 8, sweeps = 101;
  std::printf("Load average (1 min) at start: %.2f\n\n", load_average());
  const std::vector<double> a = run_matrix(n);
  // Replays, alternating, the best of two each.
  Phases x87 = replay(a, n, blocks, sweeps, Arithmetic::now);
  Phases software = peer_replay(peer_bench, n, blocks, sweeps);
  x87 = best(x87, replay(a, n, blocks, sweeps, Arithmetic::now));
  software = best(software, peer_replay(peer_bench, n, blocks, sweeps));

  const double terms = sweep_product_terms(n, blocks, Arithmetic::now) * sweeps;
  std::printf("Processor seconds of the arithmetic of a run at N = %d with %d blocks and %d sweeps, replayed on one "
              "thread (the direct solve once, two sweeps scaled to all):\n\n",
              n, blocks, sweeps);
  std::printf("| phase | x87 s | software s | software / x87 |\n|:---|---:|---:|---:|\n");
  row("direct phase (tred12, eigenvalues only)", x87.direct, software.direct);
  row("block products (T, H, CNEW)", products(x87), products(software));
  row("block solves (tred12 with eigenvectors)", x87.solves, software.solves);
  row("copies and reorder", others(x87), others(software));
  row("**all**", x87.total(), software.total());
  std::printf("\nBlock products: %.3g terms; x87 %.3f Gterm/s, software %.3f Gterm/s on one core (%.2f of the x87 "
              "rate).\n\n",
              terms, terms / products(x87) * 1e-9, terms / products(software) * 1e-9,
              products(x87) / products(software));

  // The whole program, alternating, on two threads.
  const ProgramCase c = write_case(std::filesystem::temp_directory_path().string(), "arithmetic_bench", a, n);
  const std::string input = std::to_string(blocks) + "\n";
  ProgramRun runs[2][2];
  for (int rep = 0; rep < 2; ++rep) {
    runs[0][rep] = run_program(BLOCKEIG_BIN, c.dir, 2, input);
    runs[1][rep] = run_program(peer_program, c.dir, 2, input);
  }
  bool same = true;
  for (const auto& builds : runs)
    for (const ProgramRun& r : builds)
      same = same && r.ok && r.transcript == runs[0][0].transcript && r.eigenvalues == runs[0][0].eigenvalues;
  const auto best_of = [](const ProgramRun* r, double ProgramRun::*field) { return std::min(r[0].*field, r[1].*field); };
  std::printf("The whole program, N = %d, %d blocks, 2 threads (best of two runs each, alternating):\n\n", n, blocks);
  std::printf("| | x87 | software | software / x87 |\n|:---|---:|---:|---:|\n");
  row("wall s", best_of(runs[0], &ProgramRun::wall), best_of(runs[1], &ProgramRun::wall));
  row("processor s", best_of(runs[0], &ProgramRun::cpu), best_of(runs[1], &ProgramRun::cpu));
  std::printf("\nSweeps: %d. Transcripts and C.SCR.TXT of all four runs: %s.\n", sweep_count(runs[0][0].transcript),
              same ? "identical" : "DIFFERENT");
  std::printf("Load average (1 min) at end: %.2f\n", load_average());
  std::filesystem::remove_all(c.dir);
  return same ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  blockeig::set_extended_environment();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "replay") {
    const int n = std::stoi(args[1]), blocks = std::stoi(args[2]), sweeps = std::stoi(args[3]);
    std::printf("%s\n", phase_line(replay(run_matrix(n), n, blocks, sweeps, Arithmetic::now)).c_str());
    return 0;
  }
  if ((args.size() == 3 || args.size() == 4) && args[0] == "compare" && blockeig::extended_arithmetic == "x87")
    return compare(std::filesystem::absolute(args[1]), std::filesystem::absolute(args[2]),
                   args.size() == 4 && args[3] == "--quick");
  std::fprintf(stderr,
               "usage: arithmetic_bench compare PEER_BENCH PEER_BLOCKEIG [--quick]   (from the x87 build)\n"
               "       arithmetic_bench replay N BLOCKS SWEEPS\n");
  return 2;
}
