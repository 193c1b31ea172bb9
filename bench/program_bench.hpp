#pragma once
// The whole program and its parts: runs of blockeig (and of the baseline
// binary) as child processes, and replays of the program's arithmetic in
// this process, phase by phase, on one thread, to say where the time of a
// run goes.
#include <string>
#include <vector>

#include "bench/bench_support.hpp"
#include "bench/program_run.hpp"

namespace blockeig::bench {

// Processor seconds of one run's arithmetic, by phase.
struct Phases {
  double direct = 0;      // the direct solve
  double times = 0;       // T = A * C_b, every block of every sweep
  double projection = 0;  // H
  double solves = 0;      // the block solves (tred12 with eigenvectors)
  double rotation = 0;    // CNEW = C_b * U
  double copies = 0;      // CNEW and W into C and E
  double reorder = 0;     // reporder2
  double total() const { return direct + times + projection + solves + rotation + copies + reorder; }
};

// How the program computes, now or before its direct phase dropped the
// eigenvectors (mode 2) and its projection formed only the lower triangle.
enum class Arithmetic { now, before };

// The run's arithmetic on one thread: the direct solve once, then the first
// `replayed` of `sweeps` sweeps of `blocks` blocks, scaled to all of them
// (every sweep does the same products on the same shapes).
Phases replay(const std::vector<double>& a, int n, int blocks, int sweeps, Arithmetic arithmetic, int replayed = 2);

// Multiply-add terms of the block products of one sweep.
double sweep_product_terms(int n, int blocks, Arithmetic arithmetic);

// The straightforward sequential code of a run, estimated from its parts
// measured here on one thread: the test suite's reference direct solver
// once, then per block the plain product loops (all of H, as the program's
// text has it) and the reference solver.
struct Straightforward {
  Timing direct, block, total;
};
Straightforward straightforward(int n, int blocks, int sweeps);

// Seconds of tred12 with eigenvectors of order n on the pool's threads, by
// part: the reduction (tred12 without eigenvectors), the QL iteration with
// its rotations (tql12 on the reduced matrix), and the accumulation of the
// reflections (the rest).
struct SolveParts {
  double total = 0, reduction = 0, iteration = 0, accumulation = 0;
};
SolveParts tred12_parts(int n);

// A matrix file in a directory of its own under `work`, and runs of a
// program on it.
struct ProgramCase {
  std::string dir;
  int n = 0;
};
ProgramCase write_case(const std::string& work, const std::string& name, const std::vector<double>& a, int n);

}  // namespace blockeig::bench
