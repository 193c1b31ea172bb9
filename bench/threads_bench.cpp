// What more threads than processors cost a whole run. blockeig keeps the
// thread count it is given (BLOCKEIG_THREADS), so a run with 8, 64 or 1024
// threads on 2 cores must be about as fast as one with 2. Each run is the
// program itself, on a random matrix whose sweeps all run, restricted to the
// first `--cores` processors of this process's affinity mask; the counts are
// taken in turn, repeat after repeat, so that a change of load falls on all
// of them alike. Prints Markdown: per matrix and thread count the median wall
// and processor time, each against the first count's, and whether the
// transcript and C.SCR.TXT are the first count's bytes. The loss is the wall
// time's; on a busy machine the wall times say little (more threads win a
// larger share of the processors from other jobs), and the processor time
// shows what the extra threads cost.
//
//   threads_bench [--counts 2,8,64,1024] [--cores 2] [--repeats 5] [--quick] [--work DIR]
//                 [--program BLOCKEIG]
//
// --program runs another build of blockeig (an earlier revision, say) in the
// same way.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_support.hpp"
#include "bench/program_run.hpp"

namespace blockeig::bench {
namespace {

struct Workload {
  int n;
  int blocks;
};

struct Options {
  std::vector<int> counts{2, 8, 64, 1024};
  int cores = 2;
  int repeats = 5;
  std::vector<Workload> workloads{{300, 4}, {400, 4}, {600, 6}};
  std::string work = "threads_bench_work";
  std::string program = BLOCKEIG_BIN;
};

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr, "threads_bench: %s\nusage: threads_bench [--counts 2,8,64,1024] [--cores 2] [--repeats 5] "
                       "[--quick] [--work DIR] [--program BLOCKEIG]\n", problem);
  std::exit(2);
}

std::vector<int> parse_counts(std::string_view text) {
  std::vector<int> counts;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const int count = std::atoi(std::string(text.substr(0, comma)).c_str());
    if (count < 1) usage("--counts takes thread counts separated by commas");
    counts.push_back(count);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  if (counts.empty()) usage("--counts takes thread counts separated by commas");
  return counts;
}

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const auto value = [&]() -> std::string_view {
      if (i + 1 >= argc) usage("an option lacks its value");
      return argv[++i];
    };
    if (argument == "--counts") {
      options.counts = parse_counts(value());
    } else if (argument == "--cores") {
      options.cores = std::atoi(std::string(value()).c_str());
      if (options.cores < 1) usage("--cores takes a whole number from 1");
    } else if (argument == "--repeats") {
      options.repeats = std::atoi(std::string(value()).c_str());
      if (options.repeats < 1) usage("--repeats takes a whole number from 1");
    } else if (argument == "--quick") {
      options.repeats = 1;
      options.workloads = {{200, 4}};
    } else if (argument == "--work") {
      options.work = value();
    } else if (argument == "--program") {
      options.program = value();
    } else {
      usage("unknown argument");
    }
  }
  return options;
}

// The first `cores` processors of this process's affinity mask, for the
// children; fewer when the mask has fewer.
cpu_set_t first_processors(int cores, int& taken) {
  cpu_set_t allowed, chosen;
  CPU_ZERO(&allowed);
  CPU_ZERO(&chosen);
  taken = 0;
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return allowed;
  for (int cpu = 0; cpu < CPU_SETSIZE && taken < cores; ++cpu) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    CPU_SET(cpu, &chosen);
    ++taken;
  }
  return chosen;
}

// Entries uniform in (-1e9, 1e9): E(1) keeps moving by more than TOL, so
// every run makes all its sweeps.
std::vector<double> random_symmetric(int n) {
  std::mt19937_64 rng(static_cast<unsigned>(n));
  std::uniform_real_distribution<double> entry(-1e9, 1e9);
  std::vector<double> a(static_cast<std::size_t>(n) * n);
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n; ++i) a[i + static_cast<std::size_t>(j) * n] = a[j + static_cast<std::size_t>(i) * n] = entry(rng);
  return a;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t m = values.size() / 2;
  return values.size() % 2 == 1 ? values[m] : (values[m - 1] + values[m]) / 2;
}

struct Measured {
  std::vector<double> wall, cpu;
  bool all_ok = true;
  bool identical = true;
  int sweeps = 0;
};

}  // namespace
}  // namespace blockeig::bench

int main(int argc, char** argv) {
  using namespace blockeig::bench;
  const Options options = parse(argc, argv);
  int cores = 0;
  const cpu_set_t processors = first_processors(options.cores, cores);
  if (cores < options.cores)
    std::printf("Only %d processor(s) in this process's affinity mask; the runs use those.\n\n", cores);
  const auto start = Clock::now();
  std::printf("Load average (1 min) at start: %.2f. Children restricted to %d processor(s); %d repeat(s), the "
              "counts taken in turn.\n\n", load_average(), cores, options.repeats);
  std::printf("| N | blocks | threads | sweeps | wall s (median) | wall min | wall max | loss vs %d threads | "
              "cpu s (median) | cpu vs %d threads | bytes = %d threads |\n"
              "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|:---:|\n",
              options.counts.front(), options.counts.front(), options.counts.front());
  std::fflush(stdout);
  double worst = 0;
  for (const Workload& workload : options.workloads) {
    const std::string dir = options.work + "/n" + std::to_string(workload.n);
    std::filesystem::create_directories(dir);
    if (!write_record_file(dir + "/A.SCR", workload.n, random_symmetric(workload.n))) {
      std::fprintf(stderr, "threads_bench: cannot write %s/A.SCR\n", dir.c_str());
      return 1;
    }
    const std::string input = std::to_string(workload.blocks) + "\n";
    std::vector<Measured> measured(options.counts.size());
    std::string first_transcript, first_eigenvalues;
    for (int repeat = 0; repeat < options.repeats; ++repeat) {
      for (std::size_t c = 0; c < options.counts.size(); ++c) {
        const ProgramRun run = run_program(options.program, dir, options.counts[c], input, [processors] {
          ::sched_setaffinity(0, sizeof processors, &processors);
        });
        Measured& m = measured[c];
        m.wall.push_back(run.wall);
        m.cpu.push_back(run.cpu);
        m.all_ok &= run.ok;
        m.sweeps = sweep_count(run.transcript);
        if (repeat == 0 && c == 0) {
          first_transcript = run.transcript;
          first_eigenvalues = run.eigenvalues;
        }
        m.identical &= run.transcript == first_transcript && run.eigenvalues == first_eigenvalues;
      }
    }
    const double base = median(measured.front().wall);
    const double base_cpu = median(measured.front().cpu);
    for (std::size_t c = 0; c < options.counts.size(); ++c) {
      const Measured& m = measured[c];
      const double wall = median(m.wall);
      const double loss = wall / base - 1;
      if (c > 0) worst = std::max(worst, loss);
      std::printf("| %d | %d | %d | %d | %.2f | %.2f | %.2f | %+.1f%% | %.2f | %+.1f%% | %s |\n", workload.n,
                  workload.blocks, options.counts[c], m.sweeps, wall, *std::min_element(m.wall.begin(), m.wall.end()),
                  *std::max_element(m.wall.begin(), m.wall.end()), 100 * loss, median(m.cpu),
                  100 * (median(m.cpu) / base_cpu - 1), !m.all_ok ? "FAILED RUN" : m.identical ? "yes" : "NO");
      std::fflush(stdout);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("\nLargest loss: %+.1f%% (goal: under 10%%). Load average (1 min) at end: %.2f; %.0f s in all.\n",
              100 * worst, load_average(), seconds);
}
