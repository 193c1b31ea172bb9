// blockeig against OpenBLAS, LAPACK and Eigen on this machine, and against
// itself before its direct phase dropped the eigenvectors, in one process on
// the same matrices, printed as Markdown (the tables of docs/performance.md):
//
//   1. the direct phase (eigenvalues only) vs dsyev 'N' and the x87 bound;
//   2. tred12 with eigenvectors vs dsyev 'V', dsyevd 'V' and Eigen, and where
//      its time goes (reduction, accumulation, QL iteration);
//   3. the block products vs the x87 unit's multiply-add rate and dgemm;
//   4. whole runs: N = 1000 with 8 blocks (before and after, phase by
//      phase), N = 1000 with 1 block, N = 360 with 4 blocks against the
//      straightforward sequential code, and the peak memory of a run at
//      N = 3000 that ends at the prompt;
//   5. the goals.
//
//   solver_bench [--quick] [--seconds S] [--blockeig PATH] [--before PATH
//                [--before-name NAME]] [--work DIR]
//
// --quick shrinks every size (a smoke run of a few seconds, figures
// meaningless). --before names the baseline binary (bench/run builds it).
// OpenBLAS runs with as many threads as blockeig (2, the cores of the
// machine it was written on), loaded without this environment's
// OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE; Eigen's solver has one thread.
// Times are the best of several calls; nothing here is a test.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.hpp"
#include "bench/openblas_peer.hpp"
#include "bench/peers.hpp"
#include "bench/program_bench.hpp"
#include "bench/program_run.hpp"
#include "arithmetic/extended.hpp"
#include "eigen/block_products.hpp"
#include "eigen/solver.hpp"
#include "runtime/thread_pool.hpp"
#include "runtime/startup.hpp"

namespace {

using namespace blockeig::bench;
using blockeig::bench::Arithmetic;

struct Options {
  bool quick = false;
  double seconds = 1.0;
  std::string blockeig = BLOCKEIG_BIN;
  std::string before;
  std::string before_name = "baseline";
  std::string reference = LAPACK_REFERENCE_BIN;
  std::string work = "solver_bench_work";
};

constexpr int parallel_threads = 2;

// Lets OpenBLAS's worker threads, which spin for a while after a call, go
// to sleep before blockeig is timed.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

double spectral_norm(const std::vector<double>& ascending) {
  return std::max(std::fabs(ascending.front()), std::fabs(ascending.back()));
}

double max_relative_difference(const std::vector<double>& x, const std::vector<double>& y) {
  double d = 0;
  for (std::size_t i = 0; i < x.size(); ++i) d = std::max(d, std::fabs(x[i] - y[i]));
  return d / spectral_norm(y);
}

double mib(double bytes) { return bytes / 1048576.0; }
const char* verdict(bool met) { return met ? "met" : "NOT met"; }

// ---------------------------------------------------------------- 1. direct phase

struct DirectRow {
  int n;
  double values1, values2;  // blockeig eigenvalues only (the direct phase), 1 and 2 threads
  double vectors1, vectors2;  // tred12 with eigenvectors
  double dsyev_n, dsyev_v, dsyevd_v, eigen;
  double diff_n, diff_v, diff_d, diff_eigen;
  bool bits_equal;  // 1 = 2 threads, and the same eigenvalues with and without vectors
};

DirectRow bench_direct(int n) {
  const std::size_t un = static_cast<std::size_t>(n);
  const std::vector<double> a = random_symmetric(n, 1000 + n);
  std::vector<double> vec(un * un), v1(un), v2(un), w1(un), w2(un), pvec, pn(un), pv(un), pd(un), pe(un);
  const int reps = n >= 1500 ? 1 : n >= 1000 ? 2 : 3;
  DirectRow row{};
  row.n = n;
  int ierr = 0, info = 0;
  blockeig::Tred12Work work;
  if (!work.obtain(n)) throw std::bad_alloc();
  const auto solve = [&](int mode, std::vector<double>& val) {
    blockeig::tred12(n, a.data(), vec.data(), val.data(), mode, ierr, work);
  };
  blockeig::set_thread_count(1);
  row.values1 = best_time([&] { solve(1, v1); }, 0, reps).wall;
  row.vectors1 = best_time([&] { solve(2, w1); }, 0, reps).wall;
  blockeig::set_thread_count(parallel_threads);
  row.values2 = best_time([&] { solve(1, v2); }, 0, reps).wall;
  row.vectors2 = best_time([&] { solve(2, w2); }, 0, reps).wall;
  row.bits_equal = same_bits(v1, v2) && same_bits(w1, w2) && same_bits(v2, w2) && ierr == 0;

  openblas_set_num_threads(parallel_threads);
  row.dsyev_n = best_time([&] { info |= lapack_dsyev_values(n, a, pn); }, 0, reps).wall;
  row.dsyev_v = best_time([&] { info |= lapack_dsyev(n, a, pvec, pv); }, 0, reps).wall;
  row.dsyevd_v = best_time([&] { info |= lapack_dsyevd(n, a, pvec, pd); }, 0, reps).wall;
  row.eigen = best_time([&] { info |= eigen_solve(n, a, pvec, pe); }, 0, reps).wall;
  settle();
  if (info != 0) std::printf("WARNING: a peer solver failed at n = %d\n", n);
  row.diff_n = max_relative_difference(v2, pn);
  row.diff_v = max_relative_difference(w2, pv);
  row.diff_d = max_relative_difference(w2, pd);
  row.diff_eigen = max_relative_difference(w2, pe);
  return row;
}

// Seconds of the reduction's 2n^3/3 multiply-add terms at the x87 bound on
// `cores` cores.
double bound_seconds(int n, double bound, int cores) { return 2.0 * n * n * n / 3.0 / (bound * cores); }

void print_direct_phase(const std::vector<DirectRow>& rows, double bound) {
  std::printf("\n### Direct phase: eigenvalues only, vs dsyev 'N' and the x87 bound\n\n"
              "blockeig's direct phase is tred12 without eigenvectors: the Householder reduction (2n^3/3 "
              "multiply-add terms) and the QL iteration's values. Seconds, best of 1-3 calls; OpenBLAS on %d "
              "threads. Bound = the reduction's terms at the x87 rate measured below, on %d cores. Mode 2 = the "
              "same call with eigenvectors, as the direct phase made it before. Diff = largest |lambda - "
              "lambda_dsyev| / ||A||_2.\n\n",
              parallel_threads, parallel_threads);
  std::printf("| n | 1 thr | 2 thr | speedup | dsyev 'N' | /dsyev 'N' | bound | %% of bound | mode 2, 2 thr | /mode 2 "
              "| diff | bits 1 = 2 thr = mode 2 |\n"
              "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|:---:|\n");
  for (const DirectRow& r : rows) {
    const double ideal = bound_seconds(r.n, bound, parallel_threads);
    std::printf("| %d | %.3f | %.3f | %.2fx | %.3f | %.2f | %.3f | %.0f%% | %.3f | %.3f | %.1e | %s |\n", r.n,
                r.values1, r.values2, r.values1 / r.values2, r.dsyev_n, r.values2 / r.dsyev_n, ideal,
                100 * ideal / r.values2, r.vectors2, r.values2 / r.vectors2, r.diff_n, r.bits_equal ? "yes" : "NO");
  }
}

void print_vectors(const std::vector<DirectRow>& rows) {
  std::printf("\n### tred12 with eigenvectors vs dsyev 'V', dsyevd 'V' and Eigen\n\n"
              "The library call the block solves make (and the direct phase made before). Ratios are blockeig on %d "
              "threads / peer (below 1: blockeig faster).\n\n",
              parallel_threads);
  std::printf("| n | 1 thr | 2 thr | speedup | dsyev 'V' | dsyevd 'V' | Eigen | /dsyev | /dsyevd | /Eigen | diff dsyev "
              "| diff dsyevd | diff Eigen |\n"
              "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const DirectRow& r : rows)
    std::printf("| %d | %.3f | %.3f | %.2fx | %.3f | %.3f | %.3f | %.2f | %.2f | %.2f | %.1e | %.1e | %.1e |\n", r.n,
                r.vectors1, r.vectors2, r.vectors1 / r.vectors2, r.dsyev_v, r.dsyevd_v, r.eigen,
                r.vectors2 / r.dsyev_v, r.vectors2 / r.dsyevd_v, r.vectors2 / r.eigen, r.diff_v, r.diff_d,
                r.diff_eigen);
}

void print_solve_parts(int n, const SolveParts& p, double bound) {
  const double terms = 2.0 * n * n * n / 3.0;
  const auto share = [&](double part) { return 100 * part / p.total; };
  const auto of_bound = [&](double part) { return 100 * terms / part / (bound * parallel_threads); };
  std::printf("\n### Where tred12 with eigenvectors spends its time, n = %d, %d threads\n\n"
              "Reduction = tred12 without eigenvectors; QL iteration = tql12 with eigenvectors on the reduced matrix "
              "(the rotations applied to the accumulated reflections); accumulation = the rest. The reduction and "
              "the accumulation are 2n^3/3 multiply-add terms each; the accumulation's seconds are a difference of "
              "timings taken apart, a few per cent of the whole each, so they give no rate.\n\n"
              "| part | seconds | share | %% of the x87 bound on %d cores |\n|:---|---:|---:|---:|\n"
              "| reduction | %.3f | %.0f%% | %.0f%% |\n| accumulation | %.3f | %.0f%% | |\n"
              "| QL iteration and rotations | %.3f | %.0f%% | |\n| whole call | %.3f | 100%% | |\n",
              n, parallel_threads, parallel_threads, p.reduction, share(p.reduction), of_bound(p.reduction),
              p.accumulation, share(p.accumulation), p.iteration, share(p.iteration),
              p.total);
}

// ---------------------------------------------------------------- 3. kernels

struct KernelRow {
  int n, m;
  const char* name;
  double per_core1, per_core2;  // terms per processor second
  double wall1, wall2;          // terms per wall second
  double dgemm_wall;            // terms per wall second, OpenBLAS on parallel_threads
  bool bits_equal;
};

std::vector<KernelRow> bench_kernels(int n, int m, const Options& opt) {
  const std::size_t un = n, um = m;
  const std::vector<double> a = random_symmetric(n, 1);
  const std::vector<double> c = random_matrix(un * un, 2);
  const std::vector<double> u = random_matrix(um * um, 3);
  const double* c_b = c.data() + std::size_t((n - m) / 2) * un;
  std::vector<double> t(un * um);
  blockeig::block_times(n, a.data(), c_b, m, t.data());

  struct Kernel {
    const char* name;
    double terms, peer_terms;
    std::function<void(std::vector<double>&)> run;
    std::function<void(std::vector<double>&)> peer;
  };
  // H: the lower triangle with the diagonal, m(m+1)/2 sums of n terms; dgemm
  // forms all m^2.
  const Kernel kernels[] = {
      {"T = A*C_b", double(n) * n * m, double(n) * n * m,
       [&](std::vector<double>& out) { blockeig::block_times(n, a.data(), c_b, m, out.data()); },
       [&](std::vector<double>& out) { dgemm(false, n, m, n, a.data(), c_b, out.data()); }},
      {"H = C_b'*T (lower)", double(m) * (m + 1) / 2 * n, double(m) * m * n,
       [&](std::vector<double>& out) { blockeig::block_projection(n, m, c_b, t.data(), out.data()); },
       [&](std::vector<double>& out) { dgemm(true, m, m, n, c_b, t.data(), out.data()); }},
      {"CNEW = C_b*U", double(n) * m * m, double(n) * m * m,
       [&](std::vector<double>& out) { blockeig::block_rotation(n, m, c_b, u.data(), out.data()); },
       [&](std::vector<double>& out) { dgemm(false, n, m, m, c_b, u.data(), out.data()); }},
  };
  std::vector<KernelRow> rows;
  for (const Kernel& k : kernels) {
    // Each timed sample makes enough calls for about 0.15 s of one core:
    // a running worker's processor time is accounted a scheduler tick late,
    // which would flatter the per-core rate of a 10 ms call.
    const int calls = std::max(1, static_cast<int>(2.5e8 / k.terms));
    const double terms = k.terms * calls;
    const auto repeat = [calls](const std::function<void(std::vector<double>&)>& f, std::vector<double>& out) {
      for (int c = 0; c < calls; ++c) f(out);
    };
    std::vector<double> one(un * um), two(un * um), peer(un * um);
    blockeig::set_thread_count(1);
    const Timing t1 = best_time([&] { repeat(k.run, one); }, opt.seconds);
    blockeig::set_thread_count(parallel_threads);
    const Timing t2 = best_time([&] { repeat(k.run, two); }, opt.seconds);
    openblas_set_num_threads(parallel_threads);
    const Timing tp = best_time([&] { repeat(k.peer, peer); }, opt.seconds);
    settle();
    rows.push_back({n, m, k.name, terms / t1.cpu, terms / t2.cpu, terms / t1.wall, terms / t2.wall,
                    k.peer_terms * calls / tp.wall, same_bits(one, two)});
  }
  return rows;
}

void print_kernels(const std::vector<KernelRow>& rows, const X87Bound& x87) {
  const double bound = x87.best();
  std::printf("\n### Block-phase products vs the x87 bound and dgemm\n\n"
              "x87 multiply-add bound per core, measured now (L1-resident data, best of 4, 5, 6 independent sums): "
              "%.3f Gterm/s (4: %.3f, 5: %.3f, 6: %.3f).\n"
              "Gterm/s = 1e9 multiply-add terms per second; per core = per second of processor time of this "
              "process (a waiting thread spins for up to 50 us and is counted); speedup = wall rate on %d threads / "
              "on 1; dgemm on %d threads (it forms all of H), time ratio blockeig/dgemm.\n\n",
              bound / 1e9, x87.r4 / 1e9, x87.r5 / 1e9, x87.r6 / 1e9, parallel_threads, parallel_threads);
  std::printf("| N | M | product | 1 thr per core | %% of bound | 2 thr per core | %% of bound | 2 thr wall "
              "| speedup | dgemm | /dgemm | 1 = 2 thr bits |\n"
              "|---:|---:|:---|---:|---:|---:|---:|---:|---:|---:|---:|:---:|\n");
  for (const KernelRow& r : rows)
    std::printf("| %d | %d | %s | %.3f | %.0f%% | %.3f | %.0f%% | %.3f | %.2fx | %.1f | %.1f | %s |\n", r.n, r.m,
                r.name, r.per_core1 / 1e9, 100 * r.per_core1 / bound, r.per_core2 / 1e9, 100 * r.per_core2 / bound,
                r.wall2 / 1e9, r.wall2 / r.wall1, r.dgemm_wall / 1e9, r.dgemm_wall / r.wall2,
                r.bits_equal ? "yes" : "NO");
}

// ---------------------------------------------------------------- 4. whole runs

struct Run {
  const char* program;  // "before" or "now"
  int threads;
  ProgramRun result;
};

std::string run_row(const Run& r, const std::string& before_name) {
  char line[200];
  std::snprintf(line, sizeof line, "| %s | %d | %s | %d | %.1f | %.1f | %.1f |\n",
                std::strcmp(r.program, "before") == 0 ? before_name.c_str() : "blockeig", r.threads,
                r.result.ok ? "0" : "FAILED", sweep_count(r.result.transcript), r.result.wall, r.result.cpu,
                r.result.peak_kib / 1024.0);
  return line;
}

bool same_output(const ProgramRun& x, const ProgramRun& y) {
  return x.ok && y.ok && x.transcript == y.transcript && x.eigenvalues == y.eigenvalues;
}

void print_runs(const char* title, const std::vector<Run>& runs, const Options& opt) {
  std::printf("\n%s\n\n| program | threads | exit | sweeps | wall s | cpu s | peak MiB |\n"
              "|:---|---:|:---:|---:|---:|---:|---:|\n",
              title);
  for (const Run& r : runs) std::printf("%s", run_row(r, opt.before_name).c_str());
  bool same = true;
  for (const Run& r : runs) same = same && same_output(r.result, runs.front().result);
  std::printf("\nTranscripts and C.SCR.TXT of these runs: %s.\n", same ? "identical" : "DIFFERENT");
}

void print_phases(int n, int blocks, const Phases& now, const Phases& before, double run_cpu, int sweeps) {
  std::printf("\nWhere the processor time of the arithmetic goes (replayed in this process on 1 thread, %d sweeps "
              "measured and scaled to %d; before = the direct solve with eigenvectors and all of H):\n\n"
              "| phase | before s | now s |\n|:---|---:|---:|\n",
              std::min(2, sweeps), sweeps);
  const auto row = [&](const char* name, double Phases::*part) {
    std::printf("| %s | %.2f | %.2f |\n", name, before.*part, now.*part);
  };
  row("direct solve", &Phases::direct);
  row("T = A*C_b", &Phases::times);
  row("H", &Phases::projection);
  row("block solves", &Phases::solves);
  row("CNEW = C_b*U", &Phases::rotation);
  row("copies into C and E", &Phases::copies);
  row("reporder2", &Phases::reorder);
  std::printf("| **sum** | **%.2f** | **%.2f** |\n", before.total(), now.total());
  std::printf("\nProducts per sweep: %.3g terms now (N^3 (1 + 1.5/NBLOCKS) = %.3g), %.3g before (N^3 (1 + "
              "2/NBLOCKS)). The 1-thread run took %.1f s of processor time; the %.1f s not replayed are loading "
              "A.SCR, output, start-up and allocation.\n",
              sweep_product_terms(n, blocks, Arithmetic::now), double(n) * n * n * (1 + 1.5 / blocks),
              sweep_product_terms(n, blocks, Arithmetic::before), run_cpu, run_cpu - now.total());
}

Run run_program_case(const char* program, const std::string& binary, const ProgramCase& c, int threads,
                     const std::string& input) {
  return {program, threads, run_program(binary, c.dir, threads, input)};
}

// ---------------------------------------------------------------- options

bool parse(int argc, char** argv, Options& opt) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--quick") {
      opt.quick = true;
    } else if (arg == "--seconds" && has_value) {
      opt.seconds = std::atof(argv[++i]);
      if (!(opt.seconds > 0)) return false;
    } else if (arg == "--blockeig" && has_value) {
      opt.blockeig = argv[++i];
    } else if (arg == "--before" && has_value) {
      opt.before = argv[++i];
    } else if (arg == "--before-name" && has_value) {
      opt.before_name = argv[++i];
    } else if (arg == "--work" && has_value) {
      opt.work = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  load_openblas_unconstrained(argv);
  Options opt;
  if (!parse(argc, argv, opt)) {
    std::fprintf(stderr, "usage: solver_bench [--quick] [--seconds S] [--blockeig PATH] [--before PATH "
                         "[--before-name NAME]] [--work DIR]\n");
    return 2;
  }
  blockeig::set_extended_environment();
  blockeig::runtime::keep_released_memory();  // the replays allocate as the program does
  if (opt.quick) opt.seconds = std::min(opt.seconds, 0.1);
  ::mkdir(opt.work.c_str(), 0755);
  const double load_start = load_average();
  const auto t0 = Clock::now();
  const PeerSetup peer = check_openblas(argv, opt.reference, opt.work);
  openblas_set_num_threads(parallel_threads);
  std::printf("## solver_bench%s\n\nLoad average (1 min) at start: %.2f on %u cores. OpenBLAS: %s, core **%s**, "
              "%d threads, loaded with %s; its eigenvalues (dsyev 'N' and 'V', dsyevd) agree with the reference "
              "LAPACK's to %.1e ||A||_2.\n",
              opt.quick ? " --quick (sizes shrunk, figures meaningless)" : "", load_start,
              std::thread::hardware_concurrency(), peer.config.c_str(), peer.core.c_str(), openblas_get_num_threads(),
              peer.settings.c_str(), peer.difference);
  std::fflush(stdout);

  // The whole program first, while this process is small: a child's peak
  // memory includes the image it was forked from.
  const bool quick = opt.quick;
  const bool have_before = !opt.before.empty();
  const double scale = 1e9;  // E(1) keeps moving by more than TOL: every sweep runs
  const int big = quick ? 200 : 1000, middle = quick ? 120 : 360, huge = quick ? 400 : 3000;
  const std::vector<double> a_big = random_symmetric(big, 2026, scale);
  const ProgramCase big_case = write_case(opt.work, "n1000", a_big, big);
  std::vector<Run> eight;
  if (have_before) eight.push_back(run_program_case("before", opt.before, big_case, parallel_threads, "8\n"));
  eight.push_back(run_program_case("now", opt.blockeig, big_case, 1, "8\n"));
  eight.push_back(run_program_case("now", opt.blockeig, big_case, parallel_threads, "8\n"));
  std::vector<Run> one_block{run_program_case("now", opt.blockeig, big_case, parallel_threads, "1\n")};
  const ProgramCase middle_case = write_case(opt.work, "n360", random_symmetric(middle, 360, scale), middle);
  std::vector<Run> four;
  for (const int threads : {1, parallel_threads}) {
    if (have_before) four.push_back(run_program_case("before", opt.before, middle_case, threads, "4\n"));
    four.push_back(run_program_case("now", opt.blockeig, middle_case, threads, "4\n"));
  }
  const ProgramCase small_case = write_case(opt.work, "n2", {2.0, 1.0, 1.0, 2.0}, 2);
  const long small_peak = run_program(opt.blockeig, small_case.dir, 1, "1\n").peak_kib;
  const ProgramCase huge_case = write_case(opt.work, "n3000", random_symmetric(huge, 3000), huge);
  const ProgramRun prompt = run_program(opt.blockeig, huge_case.dir, parallel_threads, "");
  std::fprintf(stderr, "whole program runs done\n");

  const X87Bound x87 = measure_x87_bound(opt.seconds);
  const double bound = x87.best();

  std::vector<DirectRow> direct;
  for (int n : quick ? std::vector<int>{100, 200} : std::vector<int>{500, 1000, 1500, 2000}) {
    direct.push_back(bench_direct(n));
    std::fprintf(stderr, "direct solve n = %d done\n", n);
  }
  print_direct_phase(direct, bound);
  print_vectors(direct);
  blockeig::set_thread_count(parallel_threads);
  const SolveParts parts = tred12_parts(big);
  print_solve_parts(big, parts, bound);
  std::fflush(stdout);

  std::vector<KernelRow> kernels;
  const int shapes[3][2] = {{1000, 125}, {360, 90}, {2000, 250}};
  for (const auto& shape : shapes) {
    const int n = quick ? shape[0] / 5 : shape[0], m = quick ? shape[1] / 5 : shape[1];
    for (const KernelRow& r : bench_kernels(n, m, opt)) kernels.push_back(r);
  }
  print_kernels(kernels, x87);
  std::fflush(stdout);

  // ---- N = 1000, 8 blocks
  const Run& eight_now1 = eight[have_before ? 1 : 0];
  const Run& eight_now2 = eight.back();
  const int sweeps = sweep_count(eight_now2.result.transcript);
  char title[160];
  std::snprintf(title, sizeof title, "### Whole program: N = %d, 8 blocks of %d, before and now", big, big / 8);
  print_runs(title, eight, opt);
  std::printf("Random symmetric matrix, entries uniform in (-%.0e, %.0e), so that E(1) keeps moving by more than TOL "
              "and every sweep runs; `echo 8 | blockeig`; wall and processor time of the child, peak = its "
              "ru_maxrss (a run on a 2 x 2 matrix peaks at %.1f MiB).\n",
              scale, scale, small_peak / 1024.0);
  const Phases now8 = replay(a_big, big, 8, sweeps, Arithmetic::now);
  const Phases before8 = replay(a_big, big, 8, sweeps, Arithmetic::before);
  print_phases(big, 8, now8, before8, eight_now1.result.cpu, sweeps);
  const double faster = have_before ? eight.front().result.wall / eight_now2.result.wall : 0;
  if (have_before)
    std::printf("\nOn %d threads: %.1f s before, %.1f s now: %.2fx (time %+.0f%%). %d threads vs 1 now: %.2fx.\n",
                parallel_threads, eight.front().result.wall, eight_now2.result.wall, faster,
                100 * (1 / faster - 1), parallel_threads, eight_now1.result.wall / eight_now2.result.wall);

  // ---- N = 1000, 1 block
  std::snprintf(title, sizeof title, "### Whole program: N = %d, 1 block", big);
  print_runs(title, one_block, opt);
  const int one_sweeps = sweep_count(one_block.front().result.transcript);
  const Phases now1 = replay(a_big, big, 1, one_sweeps, Arithmetic::now, one_sweeps);
  std::printf("\nThe block solve (tred12 with eigenvectors of order %d, once per sweep) takes %.1f s of the %.1f s "
              "of arithmetic on 1 thread (%.0f%%); the products %.1f s (%.0f%%), the direct solve %.1f s. Inside the "
              "block solve, see the table \"Where tred12 with eigenvectors spends its time\" above: on %d threads "
              "the reduction runs at %.0f%% of the x87 bound.\n",
              big, now1.solves, now1.total(), 100 * now1.solves / now1.total(),
              now1.times + now1.projection + now1.rotation,
              100 * (now1.times + now1.projection + now1.rotation) / now1.total(), now1.direct, parallel_threads,
              100 * 2.0 * big * big * big / 3 / parts.reduction / (bound * parallel_threads));

  // ---- N = 360, 4 blocks
  std::snprintf(title, sizeof title, "### Whole program: N = %d, 4 blocks of %d", middle, middle / 4);
  print_runs(title, four, opt);
  const auto find = [&](const char* program, int threads) -> const Run* {
    for (const Run& r : four)
      if (std::strcmp(r.program, program) == 0 && r.threads == threads) return &r;
    return nullptr;
  };
  const Run* now_1 = find("now", 1);
  const Run* now_2 = find("now", parallel_threads);
  const Run* before_1 = find("before", 1);
  const Run* before_2 = find("before", parallel_threads);
  const int middle_sweeps = sweep_count(now_2->result.transcript);
  const Straightforward plain = straightforward(middle, 4, middle_sweeps);
  const double middle_speedup = now_1->result.wall / now_2->result.wall;
  const double middle_vs_plain = plain.total.wall / now_2->result.wall;
  std::printf("\n%d threads vs 1: %.2fx now", parallel_threads, middle_speedup);
  if (before_1 && before_2)
    std::printf(", %.2fx before (processor time %.1f s against %.1f s before, %.1f s against %.1f s now)",
                before_1->result.wall / before_2->result.wall, before_2->result.cpu, before_1->result.cpu,
                now_2->result.cpu, now_1->result.cpu);
  std::printf(". The straightforward sequential code, *estimated* from its parts measured in this process (the "
              "test suite's reference solver once, then per block the plain product loops, all of H, and the "
              "reference solver): %.2f s + %d sweeps x 4 blocks x %.4f s = %.1f s; blockeig on %d threads is %.2fx "
              "faster",
              plain.direct.wall, middle_sweeps, plain.block.wall, plain.total.wall, parallel_threads, middle_vs_plain);
  if (before_2) std::printf(" (before: %.2fx)", plain.total.wall / before_2->result.wall);
  std::printf(".\n");

  // ---- Peak memory at the prompt
  const double arrays = 8.0 * (2.0 * huge * huge + huge);
  const double allowed = 1.1 * arrays + 16.0 * 1048576;
  const double peak = prompt.peak_kib * 1024.0;
  std::printf("\n### Peak memory: N = %d, a run that ends at the prompt\n\n"
              "Standard input empty: the run ends with \"End of file\" at line 31 (exit status %d). Peak %.1f MiB; A, "
              "C and E are %.1f MiB; allowed 1.1 x (A + C + E) + 16 MiB = %.1f MiB: %.3f x (A + C + E).\n",
              huge, WIFEXITED(prompt.status) ? WEXITSTATUS(prompt.status) : -1, mib(peak), mib(arrays), mib(allowed),
              peak / arrays);

  // ---- Goals
  const DirectRow* at1500 = nullptr;
  for (const DirectRow& r : direct)
    if (r.n == (quick ? 200 : 1500)) at1500 = &r;
  if (at1500 == nullptr) at1500 = &direct.back();
  const double reduction_share = bound_seconds(at1500->n, bound, parallel_threads) / at1500->values2;
  double worst_core = 1e300;
  for (const KernelRow& k : kernels) worst_core = std::min(worst_core, k.per_core1 / bound);
  std::printf("\n### Goals\n\n| goal | measured | |\n|:---|---:|:---|\n");
  std::printf("| direct phase n = %d, %d threads <= 0.25 x the mode-2 call | %.3f x | %s |\n", at1500->n,
              parallel_threads, at1500->values2 / at1500->vectors2, verdict(at1500->values2 <= 0.25 * at1500->vectors2));
  std::printf("| reduction >= 60%% of the x87 bound (n = %d, %d threads) | %.0f%% | %s |\n", at1500->n, parallel_threads,
              100 * reduction_share, verdict(reduction_share >= 0.6));
  std::printf("| block products per sweep N^3 (1 + 1.5/NBLOCKS), per-core rate (worst, 1 thread) | %.0f%% of bound "
              "| |\n",
              100 * worst_core);
  if (have_before)
    std::printf("| N = %d, 8 blocks, %d threads: >= 6%% faster than before | %.1f%% | %s |\n", big, parallel_threads,
                100 * (1 - 1 / faster), verdict(faster >= 1 / 0.94));
  std::printf("| N = %d, 4 blocks: %d threads >= 1.8 x 1 thread | %.2f x | %s |\n", middle, parallel_threads,
              middle_speedup, verdict(middle_speedup >= 1.8));
  std::printf("| N = %d, 4 blocks: >= 5 x straightforward (estimated) | %.2f x | %s |\n", middle, middle_vs_plain,
              verdict(middle_vs_plain >= 5));
  std::printf("| peak memory N = %d at the prompt <= 1.1 x (A + C + E) + 16 MiB | %.1f MiB | %s |\n", huge, mib(peak),
              verdict(peak <= allowed));
  bool same = true;
  for (const std::vector<Run>* runs : {&eight, &four})
    for (const Run& r : *runs) same = same && same_output(r.result, runs->front().result);
  std::printf("| transcripts and C.SCR.TXT identical: before and now, 1 and %d threads | %s | %s |\n",
              parallel_threads, same ? "yes" : "no", verdict(same));
  std::printf("\nLoad average (1 min) at end: %.2f; whole benchmark %.0f s.\n", load_average(),
              std::chrono::duration<double>(Clock::now() - t0).count());
  return 0;
}
