// blockeig against OpenBLAS, LAPACK and Eigen on this machine, in one
// process on the same matrices, printed as Markdown tables of ratios:
//
//   1. the direct solve (tred12, eigenvectors) vs dsyev, dsyevd and Eigen's
//      SelfAdjointEigenSolver, n = 500, 1000, 2000;
//   2. the block-phase products in multiply-add terms per second vs the x87
//      unit's measured multiply-add rate and vs dgemm on the same shapes;
//   3. the whole program on an N = 1000 matrix with 8 blocks: wall time on
//      1 and 2 threads, against an estimate of the straightforward
//      sequential code built from its measured parts, and peak memory
//      against the arrays the program must hold.
//
//   solver_bench [--quick] [--seconds S] [--blockeig PATH] [--work DIR]
//
// --quick shrinks every size (a smoke run of a few seconds, figures
// meaningless). OpenBLAS runs with as many threads as blockeig (2, the cores
// of the machine it was written on); Eigen's solver has one thread. Times
// are the best of several calls; nothing here is a test.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.hpp"
#include "bench/peers.hpp"
#include "bench/program_run.hpp"
#include "eigen/block_products.hpp"
#include "eigen/rotation_log.hpp"
#include "eigen/solver.hpp"
#include "eigen/thread_pool.hpp"
#include "reference_solver.hpp"
#include "runtime/startup.hpp"

namespace {

using namespace blockeig::bench;

struct Options {
  bool quick = false;
  double seconds = 1.0;
  std::string blockeig = BLOCKEIG_BIN;
  std::string work = "solver_bench_work";
};

constexpr int parallel_threads = 2;

// Lets OpenBLAS's worker threads, which spin for a while after a call, go
// to sleep before blockeig is timed.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

double max_relative_difference(const std::vector<double>& x, const std::vector<double>& y, double norm) {
  double d = 0;
  for (std::size_t i = 0; i < x.size(); ++i) d = std::max(d, std::fabs(x[i] - y[i]));
  return d / norm;
}

double spectral_norm(const std::vector<double>& ascending) {
  return std::max(std::fabs(ascending.front()), std::fabs(ascending.back()));
}

// ---------------------------------------------------------------- 1. direct solve

struct DirectRow {
  int n;
  double blockeig1, blockeig2, dsyev, dsyevd, eigen;
  double diff_dsyev, diff_dsyevd, diff_eigen;
  bool bits_equal;
};

DirectRow bench_direct(int n, const Options& opt) {
  const std::size_t un = static_cast<std::size_t>(n);
  const std::vector<double> a = random_symmetric(n, 1000 + n);
  std::vector<double> vec1(un * un), vec2(un * un), val1(un), val2(un);
  std::vector<double> pvec(un * un), sv(un), dv(un), ev(un);
  const int reps = n >= 2000 ? 1 : n >= 1000 ? 2 : 3;
  DirectRow row{};
  row.n = n;
  int ierr = 0, info = 0;

  blockeig::set_thread_count(1);
  row.blockeig1 = best_time([&] { blockeig::tred12(n, a.data(), vec1.data(), val1.data(), 2, ierr); }, 0, reps).wall;
  blockeig::set_thread_count(parallel_threads);
  row.blockeig2 = best_time([&] { blockeig::tred12(n, a.data(), vec2.data(), val2.data(), 2, ierr); }, 0, reps).wall;
  row.bits_equal = same_bits(vec1, vec2) && same_bits(val1, val2) && ierr == 0;

  openblas_set_num_threads(parallel_threads);
  row.dsyev = best_time([&] { info |= lapack_dsyev(n, a, pvec, sv); }, 0, reps).wall;
  row.dsyevd = best_time([&] { info |= lapack_dsyevd(n, a, pvec, dv); }, 0, reps).wall;
  row.eigen = best_time([&] { info |= eigen_solve(n, a, pvec, ev); }, 0, reps).wall;
  settle();
  if (info != 0) std::printf("WARNING: a peer solver failed at n = %d\n", n);
  const double norm = spectral_norm(dv);
  row.diff_dsyev = max_relative_difference(val2, sv, norm);
  row.diff_dsyevd = max_relative_difference(val2, dv, norm);
  row.diff_eigen = max_relative_difference(val2, ev, norm);
  (void)opt;
  return row;
}

void print_direct(const std::vector<DirectRow>& rows) {
  std::printf("\n### Direct solve (tred12 with eigenvectors) vs LAPACK and Eigen\n\n"
              "Times in seconds, best of 1-3 calls; OpenBLAS on %d threads, Eigen on 1. "
              "Ratios are blockeig on %d threads / peer (below 1: blockeig faster). "
              "Differences: largest |lambda_blockeig - lambda_peer| / ||A||_2.\n\n",
              parallel_threads, parallel_threads);
  std::printf("| n | blockeig 1 thr | blockeig 2 thr | speedup | dsyev | dsyevd | Eigen | /dsyev | /dsyevd | /Eigen "
              "| diff dsyev | diff dsyevd | diff Eigen | 1 = 2 thr bits |\n"
              "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|:---:|\n");
  for (const DirectRow& r : rows)
    std::printf("| %d | %.3f | %.3f | %.2fx | %.3f | %.3f | %.3f | %.2f | %.2f | %.2f | %.1e | %.1e | %.1e | %s |\n", r.n,
                r.blockeig1, r.blockeig2, r.blockeig1 / r.blockeig2, r.dsyev, r.dsyevd, r.eigen, r.blockeig2 / r.dsyev,
                r.blockeig2 / r.dsyevd, r.blockeig2 / r.eigen, r.diff_dsyev, r.diff_dsyevd, r.diff_eigen,
                r.bits_equal ? "yes" : "NO");
}

// ---------------------------------------------------------------- 2. kernels

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
    double terms;
    std::function<void(std::vector<double>&)> run;
    std::function<void(std::vector<double>&)> peer;
  };
  const Kernel kernels[] = {
      {"T = A*C_b", double(n) * n * m,
       [&](std::vector<double>& out) { blockeig::block_times(n, a.data(), c_b, m, out.data()); },
       [&](std::vector<double>& out) { dgemm(false, n, m, n, a.data(), c_b, out.data()); }},
      {"H = C_b'*T", double(m) * m * n,
       [&](std::vector<double>& out) { blockeig::block_projection(n, m, c_b, t.data(), out.data()); },
       [&](std::vector<double>& out) { dgemm(true, m, m, n, c_b, t.data(), out.data()); }},
      {"CNEW = C_b*U", double(n) * m * m,
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
    rows.push_back({n, m, k.name, terms / t1.cpu, terms / t2.cpu, terms / t1.wall, terms / t2.wall, terms / tp.wall,
                    same_bits(one, two)});
  }
  return rows;
}

void print_kernels(const std::vector<KernelRow>& rows, const X87Bound& x87) {
  const double bound = x87.best();
  std::printf("\n### Block-phase products vs the x87 bound and dgemm\n\n"
              "x87 multiply-add bound per core, measured now (L1-resident data, best of 4, 5, 6 independent sums): "
              "%.3f Gterm/s (4: %.3f, 5: %.3f, 6: %.3f).\n"
              "Gterm/s = 1e9 multiply-add terms per second; per core = per second of processor time of this "
              "process; speedup = wall rate on %d threads / on 1; 2 x per-core ratio = the speedup the split allows "
              "when both cores are free (2 x per-core rate on 2 threads / on 1), not a measured wall time; dgemm on %d threads, time ratio blockeig/dgemm "
              "(both on %d threads).\n\n",
              bound / 1e9, x87.r4 / 1e9, x87.r5 / 1e9, x87.r6 / 1e9, parallel_threads, parallel_threads,
              parallel_threads);
  std::printf("| N | M | product | 1 thr per core | %% of bound | 2 thr per core | %% of bound | 2 thr wall "
              "| speedup | 2 x per-core ratio | dgemm | /dgemm | 1 = 2 thr bits |\n"
              "|---:|---:|:---|---:|---:|---:|---:|---:|---:|---:|---:|---:|:---:|\n");
  for (const KernelRow& r : rows)
    std::printf("| %d | %d | %s | %.3f | %.0f%% | %.3f | %.0f%% | %.3f | %.2fx | %.2fx | %.1f | %.1f | %s |\n", r.n, r.m,
                r.name, r.per_core1 / 1e9, 100 * r.per_core1 / bound, r.per_core2 / 1e9, 100 * r.per_core2 / bound,
                r.wall2 / 1e9, r.wall2 / r.wall1, 2 * r.per_core2 / r.per_core1, r.dgemm_wall / 1e9, r.dgemm_wall / r.wall2,
                r.bits_equal ? "yes" : "NO");
}

// ---------------------------------------------------------------- 3. whole program

struct FullRun {
  int n, blocks;
  ProgramRun runs[2];    // 1 thread, parallel_threads
  long baseline_kib;     // peak of a run on a 2 x 2 matrix
  long launcher_kib;     // resident memory of this process when it forked the runs
  Timing straightforward;  // estimated seconds of the straightforward sequential code
  Timing direct_part, block_part;  // its parts: direct solve, one block
  double block_solve;    // seconds of blockeig's tred12 on one block's projected matrix, 1 thread
  double array_bytes, log_bytes;
};

// Seconds of the straightforward sequential code for one block of the
// sweep: the plain product loops and the reference direct solver.
Timing straightforward_block(int n, int m) {
  const std::size_t un = n, um = m;
  const std::vector<double> a = random_symmetric(n, 5);
  std::vector<double> c = random_matrix(un * um, 6);
  std::vector<double> t(un * um), h(um * um), u(um * um), w(um), cnew(un * um);
  int ierr = 0;
  return best_time([&] {
    plain_times(n, a.data(), c.data(), m, t.data());
    plain_projection(n, m, c.data(), t.data(), h.data());
    blockeig::reference::tred12(m, h.data(), u.data(), w.data(), 2, ierr);
    plain_rotation(n, m, c.data(), u.data(), cnew.data());
    std::copy(cnew.begin(), cnew.end(), c.begin());
  }, 0, 2);
}

Timing straightforward_direct(int n) {
  const std::vector<double> a = random_symmetric(n, 7);
  std::vector<double> vec(std::size_t(n) * n), val(n);
  int ierr = 0;
  return best_time([&] { blockeig::reference::tred12(n, a.data(), vec.data(), val.data(), 2, ierr); }, 0, 1);
}

// Bytes of the rotation log tql12 keeps for an order-n problem: the
// rotations (at most 64 MiB, and no more than n^2) and one 16-byte record
// per possible sweep.
// This process's resident memory (VmRSS), in KiB. A child's ru_maxrss
// covers the memory image it was forked with as well as the program it
// executes, so this is the floor of the peaks measured.
long resident_kib() {
  long kib = 0;
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "VmRSS: %ld", &kib) == 1) break;
    std::fclose(f);
  }
  return kib;
}

double rotation_log_bytes(int n) {
  const double rotations = std::min<double>(double(blockeig::default_rotation_capacity), double(n) * n);
  return rotations * sizeof(blockeig::Rotation) + (std::floor(rotations / 4) + 1) * 16.0;
}

FullRun bench_program(int n, int blocks, double scale, const Options& opt) {
  FullRun f{};
  f.n = n;
  f.blocks = blocks;
  const int m = n / blocks;
  mkdir(opt.work.c_str(), 0755);
  const std::string input = std::to_string(blocks) + "\n";
  {
    const std::string dir = opt.work + "/baseline";
    mkdir(dir.c_str(), 0755);
    write_record_file(dir + "/A.SCR", 2, {2.0, 1.0, 1.0, 2.0});
    f.baseline_kib = run_program(opt.blockeig, dir, 1, "1\n").peak_kib;
  }
  f.launcher_kib = resident_kib();
  const std::vector<double> a = random_symmetric(n, 2026, scale);
  const int thread_counts[2] = {1, parallel_threads};
  for (int i = 0; i < 2; ++i) {
    const std::string dir = opt.work + "/threads" + std::to_string(thread_counts[i]);
    mkdir(dir.c_str(), 0755);
    write_record_file(dir + "/A.SCR", n, a);
    f.runs[i] = run_program(opt.blockeig, dir, thread_counts[i], input);
  }
  f.array_bytes = 8.0 * (2.0 * n * n + n + 2.0 * m * m + 2.0 * n * m + m);
  f.log_bytes = rotation_log_bytes(n);
  return f;
}

// The straightforward sequential code's time for the run f, estimated from
// its parts: the direct solve once, then every block of every sweep.
void estimate_straightforward(FullRun& f) {
  blockeig::set_thread_count(1);
  f.direct_part = straightforward_direct(f.n);
  f.block_part = straightforward_block(f.n, f.n / f.blocks);
  const double blocks = double(sweep_count(f.runs[1].transcript)) * f.blocks;
  f.straightforward.wall = f.direct_part.wall + blocks * f.block_part.wall;
  f.straightforward.cpu = f.direct_part.cpu + blocks * f.block_part.cpu;
  const int m = f.n / f.blocks;
  const std::vector<double> h = random_symmetric(m, 8);
  std::vector<double> u(std::size_t(m) * m), w(m);
  int ierr = 0;
  f.block_solve = best_time([&] { blockeig::tred12(m, h.data(), u.data(), w.data(), 2, ierr); }, 0.5).cpu;
}

// Where the processor time of the 1-thread run goes, from the rates measured
// in this process: the products at the kernels' 1-thread rates for this
// shape, the direct solve as in the direct-solve table, the block solves.
void print_breakdown(const FullRun& f, const std::vector<DirectRow>& direct, const std::vector<KernelRow>& kernels) {
  const int m = f.n / f.blocks;
  const double blocks = double(sweep_count(f.runs[0].transcript)) * f.blocks;
  double products = 0;
  for (const KernelRow& k : kernels)
    if (k.n == f.n && k.m == m) {
      const double terms = std::strcmp(k.name, "T = A*C_b") == 0 ? double(f.n) * f.n * m : double(m) * m * f.n;
      products += blocks * terms / k.per_core1;
    }
  double direct_time = 0;
  for (const DirectRow& d : direct)
    if (d.n == f.n) direct_time = d.blockeig1;
  const double solves = blocks * f.block_solve;
  const double total = f.runs[0].cpu;
  std::printf("- Where the 1-thread run's %.1f s of processor time go (estimated from the rates above): products "
              "%.1f s (%.0f%%) at the kernels' 1-thread rates; direct solve %.1f s (%.0f%%, the n = %d row); %.0f block "
              "solves of order %d %.1f s (%.0f%%); the rest (copies, reordering, output, start-up) %.1f s (%.0f%%).\n",
              total, products, 100 * products / total, direct_time, 100 * direct_time / total, f.n, blocks, m, solves,
              100 * solves / total, total - products - direct_time - solves,
              100 * (total - products - direct_time - solves) / total);
}

void print_program(const FullRun& f, double scale) {
  const int m = f.n / f.blocks;
  std::printf("\n### Whole program: N = %d, %d blocks of %d\n\n"
              "Random symmetric matrix, entries uniform in (-%.0e, %.0e) (large, so that E(1) keeps moving by more "
              "than TOL and every sweep runs), `echo %d | blockeig`. Wall and processor time of the child; peak = its ru_maxrss.\n\n",
              f.n, f.blocks, m, scale, scale, f.blocks);
  std::printf("| threads | exit | sweeps | wall s | cpu s | peak MiB |\n|---:|:---:|---:|---:|---:|---:|\n");
  const int thread_counts[2] = {1, parallel_threads};
  for (int i = 0; i < 2; ++i) {
    const ProgramRun& r = f.runs[i];
    std::printf("| %d | %s | %d | %.1f | %.1f | %.1f |\n", thread_counts[i], r.ok ? "0" : "FAILED",
                sweep_count(r.transcript), r.wall, r.cpu, r.peak_kib / 1024.0);
  }
  const bool same = f.runs[0].transcript == f.runs[1].transcript && f.runs[0].eigenvalues == f.runs[1].eigenvalues;
  const double speedup = f.runs[0].wall / f.runs[1].wall;
  const double vs_straightforward = f.straightforward.wall / f.runs[1].wall;
  const double reference_mib = (f.array_bytes + f.log_bytes) / 1048576.0;
  const double peak_mib = std::max(f.runs[0].peak_kib, f.runs[1].peak_kib) / 1024.0;
  std::printf("\n- Transcripts and C.SCR.TXT of the two runs: %s.\n", same ? "identical" : "DIFFERENT");
  std::printf("- %d threads vs 1: %.2fx.\n", parallel_threads, speedup);
  std::printf("- Straightforward sequential code, *estimated* from its parts measured in this process (the test "
              "suite's reference direct solver once, then per block the plain product loops and the reference "
              "solver): %.2f s + %d sweeps x %d blocks x %.3f s = %.1f s wall (%.1f s processor time). blockeig on "
              "%d threads is %.2fx faster in wall time; blockeig's processor time on 1 thread is %.2fx less than "
              "the straightforward code's.\n",
              f.direct_part.wall, sweep_count(f.runs[1].transcript), f.blocks, f.block_part.wall, f.straightforward.wall,
              f.straightforward.cpu, parallel_threads, vs_straightforward, f.straightforward.cpu / f.runs[0].cpu);
  std::printf("- Memory: arrays A, C, E and one block's work arrays 8(2N^2+N+2M^2+2NM+M) = %.1f MiB, rotation log "
              "for N = %d %.1f MiB, together %.1f MiB; peak %.1f MiB = %.2f x (a 2 x 2 run peaks at %.1f MiB; this "
              "process held %.1f MiB when it forked the runs); less the 2 x 2 run's peak, %.1f MiB = %.2f x.\n",
              f.array_bytes / 1048576.0, f.n, f.log_bytes / 1048576.0, reference_mib, peak_mib, peak_mib / reference_mib,
              f.baseline_kib / 1024.0, f.launcher_kib / 1024.0, peak_mib - f.baseline_kib / 1024.0,
              (peak_mib - f.baseline_kib / 1024.0) / reference_mib);
}

// ---------------------------------------------------------------- goals

void print_goals(const std::vector<DirectRow>& direct, const std::vector<KernelRow>& kernels, const FullRun& f,
                 const X87Bound& x87) {
  const DirectRow& big = direct.back();
  double worst_core = 1e300, worst_speedup = 1e300;
  for (const KernelRow& k : kernels) {
    worst_core = std::min({worst_core, k.per_core1 / x87.best(), k.per_core2 / x87.best()});
    worst_speedup = std::min(worst_speedup, k.wall2 / k.wall1);
  }
  const double peak = std::max(f.runs[0].peak_kib, f.runs[1].peak_kib) * 1024.0;
  const double memory = peak / (f.array_bytes + f.log_bytes);
  const double full = f.straightforward.wall / f.runs[1].wall;
  const auto verdict = [](bool met) { return met ? "met" : "NOT met"; };
  std::printf("\n### Goals\n\n| goal | measured | |\n|:---|---:|:---|\n");
  std::printf("| direct solve n = %d, %d threads <= 0.8 x dsyev | %.2f x | %s |\n", big.n, parallel_threads,
              big.blockeig2 / big.dsyev, verdict(big.blockeig2 <= 0.8 * big.dsyev));
  std::printf("| (distance from dsyevd, n = %d) | %.1f x | |\n", big.n, big.blockeig2 / big.dsyevd);
  std::printf("| kernels >= 75%% of the x87 bound per core (worst) | %.0f%% | %s |\n", 100 * worst_core,
              verdict(worst_core >= 0.75));
  std::printf("| kernels %d threads >= 1.8 x 1 thread (worst, wall) | %.2f x | %s |\n", parallel_threads,
              worst_speedup, verdict(worst_speedup >= 1.8));
  std::printf("| full run >= 5 x straightforward (estimated) | %.2f x | %s |\n", full, verdict(full >= 5));
  std::printf("| peak memory <= 1.1 x arrays + rotation log | %.2f x | %s |\n", memory, verdict(memory <= 1.1));
}

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
  Options opt;
  if (!parse(argc, argv, opt)) {
    std::fprintf(stderr, "usage: solver_bench [--quick] [--seconds S] [--blockeig PATH] [--work DIR]\n");
    return 2;
  }
  blockeig::runtime::set_floating_point_environment();
  if (opt.quick) opt.seconds = std::min(opt.seconds, 0.1);
  const double load_start = load_average();
  const auto t0 = Clock::now();
  std::printf("## solver_bench%s\n\nLoad average (1 min) at start: %.2f on %u cores. OpenBLAS %d threads "
              "(openblas_get_num_threads after setting: ",
              opt.quick ? " --quick (sizes shrunk, figures meaningless)" : "", load_start,
              std::thread::hardware_concurrency(), parallel_threads);
  openblas_set_num_threads(parallel_threads);
  std::printf("%d).\n", openblas_get_num_threads());
  std::fflush(stdout);

  // The whole program first, while this process is small: a child's peak
  // memory includes the image it was forked from.
  const double scale = 1e9;
  FullRun full = bench_program(opt.quick ? 200 : 1000, 8, scale, opt);
  std::fprintf(stderr, "whole program runs done\n");
  estimate_straightforward(full);

  const X87Bound x87 = measure_x87_bound(opt.seconds);

  std::vector<DirectRow> direct;
  for (int n : opt.quick ? std::vector<int>{100, 200} : std::vector<int>{500, 1000, 2000}) {
    direct.push_back(bench_direct(n, opt));
    std::fprintf(stderr, "direct solve n = %d done\n", n);
  }
  print_direct(direct);
  std::fflush(stdout);

  std::vector<KernelRow> kernels;
  const int shapes[2][2] = {{1000, 125}, {2000, 250}};
  for (const auto& shape : shapes) {
    const int n = opt.quick ? shape[0] / 5 : shape[0], m = opt.quick ? shape[1] / 5 : shape[1];
    for (const KernelRow& r : bench_kernels(n, m, opt)) kernels.push_back(r);
  }
  print_kernels(kernels, x87);
  std::fflush(stdout);

  print_program(full, scale);
  print_breakdown(full, direct, kernels);
  print_goals(direct, kernels, full, x87);
  std::printf("\nLoad average (1 min) at end: %.2f; whole benchmark %.0f s.\n", load_average(),
              std::chrono::duration<double>(Clock::now() - t0).count());
  return 0;
}
