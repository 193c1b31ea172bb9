// The x87 unit's own multiply-add rate and every phase of a run set against
// it, and the software extended arithmetic against the x87 unit, on the same
// machine in one run. bench/arithmetic builds both and runs, from the x87
// build,
//
//   arithmetic_bench compare PEER_BENCH PEER_BLOCKEIG [--quick] [--runs-only]
//                    [--repeat K] [--large-repeat K]
//
// PEER_* being the software build's. It prints the processor, the load
// average, the unit's rate, the phases of a run's arithmetic (N = 400 and
// N = 1000, 4 blocks, 101 sweeps, replayed on one thread) as shares of that
// rate with the software/x87 ratio of each, and whole runs of both builds
// (1 and 2 threads; a random matrix and one whose sums often fall on rounding
// ties), K times each (default 3; --large-repeat for N = 1000), as ranges.
// --runs-only leaves the replays out. Every run's transcript and C.SCR.TXT
// must be the same bytes in both builds.
//
//   arithmetic_bench shares [N BLOCKS]      this build's phases (bench/run)
//   arithmetic_bench replay N BLOCKS SWEEPS one line of this build's phase
//                                           seconds (compare runs it in the peer)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "arithmetic/extended.hpp"
#include "arithmetic/extended_kernels.hpp"
#include "bench/bench_support.hpp"
#include "bench/phase_terms.hpp"
#include "bench/program_bench.hpp"
#include "bench/program_run.hpp"
#include "eigen/block_products.hpp"
#include "eigen/precision.hpp"
#include "eigen/sign.hpp"
#include "eigen/solver.hpp"
#include "reference_solver.hpp"
#include "runtime/thread_pool.hpp"
#include "support/child_process.hpp"

namespace {

using namespace blockeig;
using namespace blockeig::bench;

// ---- Multiply-add terms per phase ------------------------------------------
//
// A term is one product added into a sum (or subtracted from an element).
// Counted from the loops of eigen/ for an order n (l = i - 1 for row i;
// the functions are in phase_terms.hpp):
//   Householder reduction, rows n..2, a row with l >= 2: the sums g(1..l),
//     l terms each, l^2; the rank-two update of the l x l lower triangle,
//     two terms per element, l(l+1); together ~ (2/3) n^3 (the scaling and
//     the step's own sums, O(l), left out).
//   Accumulation of the reflections, the rows the reduction reflected
//     (l >= 2): per column j <= l a sum of l terms and an update of l
//     elements, 2 l^2; ~ (2/3) n^3.
//   QL rotations with vectors: a rotation of two columns of n rows, 2 terms
//     per element, 4n; R rotations (counted below), 4 n R, ~ 4 n^3 for the
//     usual R ~ n^2.
//   QL values only: per rotation the 10 products of the step (its two
//     divisions and its square root, which take most of its time, not
//     counted), 10 R.
//   Block products per block of M columns: T = A C_b, N^2 M; H (lower
//     triangle), N M (M+1) / 2; CNEW = C_b U, N M^2.
// ---- The phases of a run, replayed on one thread ---------------------------

struct Part {
  double seconds = 0, terms = 0;
  void add(const Part& p) {
    seconds += p.seconds;
    terms += p.terms;
  }
};

constexpr int part_count = 7;
const char* const part_names[part_count] = {
    "block products (T, H, CNEW)",  "direct: Householder reduction", "direct: QL values",
    "block solves: reduction",      "block solves: accumulation",    "block solves: QL rotations with vectors",
    "copies and reorder (no terms)"};

struct Split {
  Part part[part_count];
  double total() const {
    double t = 0;
    for (const Part& p : part) t += p.seconds;
    return t;
  }
};

template <class F>
double timed(F&& f) {
  const double t0 = process_seconds();
  f();
  return process_seconds() - t0;
}

// The tridiagonal matrix (d, e) that tred12 hands to tql12 for a, and with
// vectors the accumulated reflections z, from the tests' reference solver
// (the same bits); not timed.
struct Reduced {
  std::vector<double> z, d, e;
};
Reduced reduced(int n, const double* a, int mode) {
  Reduced r{std::vector<double>(static_cast<std::size_t>(n) * n), std::vector<double>(n), std::vector<double>(n)};
  reference::householder_reduction(n, a, r.z.data(), r.d.data(), r.e.data(), mode);
  return r;
}

// One solve of order n split into its parts: the reduction (tred12 for
// values, less its QL), the QL (values only, or with the rotations applied
// to the accumulated reflections) and, with vectors, the accumulation (the
// rest of tred12 with vectors).
void split_solve(int n, const double* a, bool vectors, Tred12Work& work, Part& reduction, Part* accumulation,
                 Part& ql) {
  std::vector<double> vec(static_cast<std::size_t>(n) * n), val(n);
  int ierr = 0;
  const double values = timed([&] { tred12(n, a, vec.data(), val.data(), 1, ierr, work); });
  const double whole = vectors ? timed([&] { tred12(n, a, vec.data(), val.data(), 2, ierr, work); }) : values;
  Reduced r = reduced(n, a, vectors ? 2 : 1);
  const double rotations = ql_rotations(n, r.d, r.e);
  std::vector<double> d = r.d, e = r.e;
  const double ql_values = timed([&] { tql12(n, r.z.data(), d.data(), ierr, 1, e.data()); });
  reduction.add({values - ql_values, reduction_terms(n)});
  if (!vectors) {
    ql.add({ql_values, 10 * rotations});
    return;
  }
  const double ql_vectors = timed([&] { tql12(n, r.z.data(), r.d.data(), ierr, 2, r.e.data()); });
  ql.add({ql_vectors, 4.0 * n * rotations});
  accumulation->add({whole - (values - ql_values) - ql_vectors, accumulation_terms(n)});
}

// A run's matrix: entries uniform in (-1e9, 1e9), so that E(1) keeps moving
// and all 101 sweeps run.
std::vector<double> run_matrix(int n) {
  std::vector<double> a = random_symmetric(n, 11);
  for (double& x : a) x *= 1e9;
  return a;
}

// A matrix of the same order and size whose entries have three significant
// bits (multiples of 2^27 up to 7 * 2^27): its products are exact and its
// sums fall on rounding ties far more often.
std::vector<double> tie_matrix(int n) {
  std::vector<double> a = random_symmetric(n, 11);
  for (double& x : a) x = static_cast<double>(static_cast<int>(x * 8)) * 0x1p27;
  return a;
}

// The direct solve once, then the first `replayed` sweeps of `blocks`
// blocks (identity basis first, as the program starts), scaled to `sweeps`.
Split replay_split(const std::vector<double>& a, int n, int blocks, int sweeps, int replayed = 2) {
  const int saved_threads = thread_count();
  set_thread_count(1);
  const std::size_t un = static_cast<std::size_t>(n);
  Tred12Work work;
  if (!work.obtain(n)) throw std::bad_alloc();
  Split direct;
  split_solve(n, a.data(), false, work, direct.part[1], nullptr, direct.part[2]);

  std::vector<double> c(un * un, 0.0), e(un);
  for (std::size_t k = 0; k < un; ++k) c[k + k * un] = 1.0;
  std::vector<int> dim(blocks), start(blocks);
  for (int b = 0, s = 0; b < blocks; s += dim[b], ++b) {
    dim[b] = b + 1 < blocks ? n / blocks : n - s;
    start[b] = s + 1;
  }
  Split sweep;
  for (int r = 0; r < replayed; ++r) {
    for (int b = 0; b < blocks; ++b) {
      const int m = dim[b];
      const std::size_t um = static_cast<std::size_t>(m);
      double* c_b = c.data() + static_cast<std::size_t>(start[b] - 1) * un;
      std::vector<double> t(un * um), h(um * um), u(um * um), w(um), cnew(un * um);
      const double dn = n, dm = m;
      sweep.part[0].add({timed([&] { block_times(n, a.data(), c_b, m, t.data()); }), dn * dn * dm});
      sweep.part[0].add({timed([&] { block_projection(n, m, c_b, t.data(), h.data()); }), dn * dm * (dm + 1) / 2});
      split_solve(m, h.data(), true, work, sweep.part[3], &sweep.part[4], sweep.part[5]);
      int ierr = 0;
      tred12(m, h.data(), u.data(), w.data(), 2, ierr, work);
      sweep.part[0].add({timed([&] { block_rotation(n, m, c_b, u.data(), cnew.data()); }), dn * dm * dm});
      sweep.part[6].seconds += timed([&] {
        std::copy(cnew.begin(), cnew.end(), c_b);
        std::copy(w.begin(), w.end(), e.begin() + (start[b] - 1));
      });
    }
    sweep.part[6].seconds += timed([&] { reporder2(n, e.data(), c.data(), blocks, start.data()); });
  }
  set_thread_count(saved_threads);
  const double scale = static_cast<double>(sweeps) / replayed;
  for (int p : {0, 3, 4, 5, 6}) {
    direct.part[p] = sweep.part[p];
    direct.part[p].seconds *= scale;
    direct.part[p].terms *= scale;
  }
  return direct;
}

std::string split_line(const Split& s) {
  std::ostringstream out;
  out.precision(17);
  for (const Part& p : s.part) out << p.seconds << ' ' << p.terms << ' ';
  return out.str();
}

Split parse_split(const std::string& line) {
  Split s;
  std::istringstream in(line);
  for (Part& p : s.part) in >> p.seconds >> p.terms;
  return s;
}

Split best(const Split& a, const Split& b) {
  Split s = a;
  for (int p = 0; p < part_count; ++p) s.part[p].seconds = std::min(a.part[p].seconds, b.part[p].seconds);
  return s;
}

Split peer_split(const std::string& peer, int n, int blocks, int sweeps) {
  testing::ChildOptions options;
  options.directory = std::filesystem::current_path();
  options.timeout_seconds = 24 * 3600;
  const testing::ChildResult r =
      testing::run_child(peer, {"replay", std::to_string(n), std::to_string(blocks), std::to_string(sweeps)}, options);
  if (r.status != 0) {
    std::fprintf(stderr, "arithmetic_bench: the peer's replay failed: %s\n", r.err.c_str());
    std::exit(1);
  }
  return parse_split(r.out);
}

// ---- The machine -------------------------------------------------------------

std::string load_averages() {
  std::ifstream in("/proc/loadavg");
  double one = 0, five = 0, fifteen = 0;
  char text[64] = "unknown";
  if (in >> one >> five >> fifteen) std::snprintf(text, sizeof text, "%.2f, %.2f, %.2f", one, five, fifteen);
  return text;
}

void print_machine() {
  std::printf("Processor: %s; kernels: %s; load average (1, 5, 15 min): %s\n\n", model_name().c_str(),
              std::string(kernels::in_use()).c_str(), load_averages().c_str());
}

// The unit's multiply-add rate per core, L1-resident data, the best of 4, 5
// and 6 independent sums (bench/bench_support.hpp). Only the x87 build has
// the unit behind ext.
double unit_rate() {
  const X87Bound bound = measure_x87_bound(1.0);
  std::printf("x87 unit's multiply-add rate, one core, L1-resident data: %.3f Gterm/s (4 sums %.3f, 5 sums %.3f, 6 "
              "sums %.3f)\n\n",
              bound.best() / 1e9, bound.r4 / 1e9, bound.r5 / 1e9, bound.r6 / 1e9);
  return bound.best();
}

double share(const Part& p, double rate) { return p.terms > 0 ? 100 * p.terms / p.seconds / rate : 0; }

void print_shares(int n, int blocks, int sweeps, const Split& x87, const Split* software, double rate) {
  std::printf("Processor seconds of the arithmetic of a run at N = %d with %d blocks and %d sweeps, replayed on one "
              "thread (the direct solve once, two sweeps scaled to all); %% = terms per second as a share of the "
              "unit's rate:\n\n",
              n, blocks, sweeps);
  if (software != nullptr) {
    std::printf("| phase | terms | x87 s | x87 %% | software s | software %% | software / x87 |\n"
                "|:---|---:|---:|---:|---:|---:|---:|\n");
  } else {
    std::printf("| phase | terms | x87 s | x87 %% |\n|:---|---:|---:|---:|\n");
  }
  for (int p = 0; p < part_count; ++p) {
    const Part& a = x87.part[p];
    std::printf("| %s | %.3g | %.3f | %.0f |", part_names[p], a.terms, a.seconds, share(a, rate));
    if (software != nullptr) {
      const Part& b = software->part[p];
      std::printf(" %.3f | %.0f | %.2f |", b.seconds, share(b, rate), b.seconds / a.seconds);
    }
    std::printf("\n");
  }
  std::printf("| **all** | | %.3f | |", x87.total());
  if (software != nullptr) std::printf(" %.3f | | %.2f |", software->total(), software->total() / x87.total());
  std::printf("\n\n");
}

// ---- Whole runs ----------------------------------------------------------------

struct Range {
  double low = 1e300, high = -1e300;
  void add(double x) {
    low = std::min(low, x);
    high = std::max(high, x);
  }
};

std::string text(const Range& r, const char* format) {
  char a[32], b[32];
  std::snprintf(a, sizeof a, format, r.low);
  std::snprintf(b, sizeof b, format, r.high);
  return std::string(a) + "–" + b;
}

struct Runs {
  Range x87, software, ratio, x87_cpu, software_cpu;
  int sweeps = 0;
  bool same = true;
};

// K runs of each build, alternating, on a matrix of order n.
Runs whole_runs(const std::string& peer, const std::vector<double>& a, int n, int blocks, int threads, int k,
                const std::string& name) {
  const ProgramCase c = write_case(std::filesystem::temp_directory_path().string(), "arithmetic_bench_" + name, a, n);
  const std::string input = std::to_string(blocks) + "\n";
  Runs runs;
  std::string transcript, eigenvalues;
  for (int rep = 0; rep < k; ++rep) {
    const ProgramRun x = run_program(BLOCKEIG_BIN, c.dir, threads, input);
    const ProgramRun s = run_program(peer, c.dir, threads, input);
    if (rep == 0) {
      transcript = x.transcript;
      eigenvalues = x.eigenvalues;
      runs.sweeps = sweep_count(x.transcript);
    }
    for (const ProgramRun* r : {&x, &s})
      runs.same = runs.same && r->ok && r->transcript == transcript && r->eigenvalues == eigenvalues;
    runs.x87.add(x.wall);
    runs.software.add(s.wall);
    runs.ratio.add(s.wall / x.wall);
    runs.x87_cpu.add(x.cpu);
    runs.software_cpu.add(s.cpu);
  }
  std::filesystem::remove_all(c.dir);
  return runs;
}

void print_runs(const char* matrix, int n, int threads, const Runs& r) {
  std::printf("| %s | %d | %d | %d | %s | %s | %s | %s | %s |\n", matrix, n, threads, r.sweeps,
              text(r.x87, "%.2f").c_str(), text(r.software, "%.2f").c_str(), text(r.ratio, "%.2f").c_str(),
              text(r.x87_cpu, "%.2f").c_str(), text(r.software_cpu, "%.2f").c_str());
}

// What compare measures: K runs of each whole run (K_large at the largest
// order, whose runs take minutes on a loaded machine); the replays or not.
struct CompareOptions {
  bool quick = false, replays = true;
  int k = 3, k_large = 0;  // 0: k
};

int compare(const std::string& peer_bench, const std::string& peer_program, const CompareOptions& o) {
  print_machine();
  const double rate = unit_rate();
  const int blocks = 4, sweeps = 101, k = o.k;
  const std::vector<int> orders = o.quick ? std::vector<int>{200} : std::vector<int>{400, 1000};
  for (const int n : orders) {
    if (!o.replays) break;
    const std::vector<double> a = run_matrix(n);
    // Alternating, the best of two each.
    Split x87 = replay_split(a, n, blocks, sweeps);
    Split software = peer_split(peer_bench, n, blocks, sweeps);
    x87 = best(x87, replay_split(a, n, blocks, sweeps));
    software = best(software, peer_split(peer_bench, n, blocks, sweeps));
    print_shares(n, blocks, sweeps, x87, &software, rate);
  }

  bool same = true;
  const int k_large = o.k_large > 0 ? o.k_large : k;
  std::printf("Whole runs, %d blocks, wall seconds, %d runs of each build alternating (%d at N = %d; ranges); the "
              "software/x87 ratio per pair of runs:\n\n",
              blocks, k, k_large, orders.back());
  std::printf("| matrix | N | threads | sweeps | x87 s | software s | software / x87 | x87 processor s | software "
              "processor s |\n|:---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  // The tie-heavy matrix at the smallest order, against the random one there.
  const int n = orders.front();
  Range tie_ratio[2];
  for (const int threads : {1, 2}) {
    const Runs ties = whole_runs(peer_program, tie_matrix(n), n, blocks, threads, k, "ties");
    const Runs random = whole_runs(peer_program, run_matrix(n), n, blocks, threads, k, "random");
    same = same && ties.same && random.same;
    print_runs("few bits (ties)", n, threads, ties);
    print_runs("random, beside it", n, threads, random);
    tie_ratio[threads - 1].add(ties.software.low / random.software.high);
    tie_ratio[threads - 1].add(ties.software.high / random.software.low);
  }
  std::printf("\nSoftware build, few-bits matrix against the random one of the same order (N = %d, the random runs "
              "measured beside it): %s on 1 thread, %s on 2.\n",
              n, text(tie_ratio[0], "%.2f").c_str(), text(tie_ratio[1], "%.2f").c_str());
  std::printf("\n| matrix | N | threads | sweeps | x87 s | software s | software / x87 | x87 processor s | software "
              "processor s |\n|:---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (std::size_t i = 1; i < orders.size(); ++i) {
    const std::vector<double> a = run_matrix(orders[i]);
    for (const int threads : {1, 2}) {
      const Runs r = whole_runs(peer_program, a, orders[i], blocks, threads, k_large, "random");
      same = same && r.same;
      print_runs("random", orders[i], threads, r);
    }
  }
  std::printf("\nTranscripts and C.SCR.TXT of every run, both builds: %s.\n", same ? "identical" : "DIFFERENT");
  std::printf("Load average (1, 5, 15 min) at end: %s\n", load_averages().c_str());
  return same ? 0 : 1;
}

// This build's phases against the unit (bench/run).
int shares(int n, int blocks) {
  print_machine();
  if (extended_arithmetic != "x87") {
    std::fprintf(stderr, "arithmetic_bench shares: the unit's rate needs the x87 build\n");
    return 2;
  }
  const double rate = unit_rate();
  const std::vector<double> a = run_matrix(n);
  const Split split = best(replay_split(a, n, blocks, 101), replay_split(a, n, blocks, 101));
  print_shares(n, blocks, 101, split, nullptr, rate);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  blockeig::set_extended_environment();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "replay") {
    const int n = std::stoi(args[1]), blocks = std::stoi(args[2]), sweeps = std::stoi(args[3]);
    std::printf("%s\n", split_line(replay_split(run_matrix(n), n, blocks, sweeps)).c_str());
    return 0;
  }
  if (!args.empty() && args[0] == "shares" && (args.size() == 1 || args.size() == 3))
    return shares(args.size() == 3 ? std::stoi(args[1]) : 1000, args.size() == 3 ? std::stoi(args[2]) : 4);
  if (args.size() >= 3 && args[0] == "compare" && blockeig::extended_arithmetic == "x87") {
    CompareOptions o;
    bool known = true;
    for (std::size_t i = 3; i < args.size() && known; ++i) {
      const bool counted = i + 1 < args.size() && std::atoi(args[i + 1].c_str()) > 0;
      if (args[i] == "--quick") {
        o.quick = true;
      } else if (args[i] == "--runs-only") {
        o.replays = false;
      } else if (args[i] == "--repeat" && counted) {
        o.k = std::atoi(args[++i].c_str());
      } else if (args[i] == "--large-repeat" && counted) {
        o.k_large = std::atoi(args[++i].c_str());
      } else {
        known = false;
      }
    }
    if (known) return compare(std::filesystem::absolute(args[1]), std::filesystem::absolute(args[2]), o);
  }
  std::fprintf(stderr,
               "usage: arithmetic_bench compare PEER_BENCH PEER_BLOCKEIG [--quick] [--runs-only] [--repeat K]\n"
               "                        [--large-repeat K]   (from the x87 build)\n"
               "       arithmetic_bench shares [N BLOCKS]   (from the x87 build)\n"
               "       arithmetic_bench replay N BLOCKS SWEEPS\n");
  return 2;
}
