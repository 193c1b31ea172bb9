// A program that makes one of each of the library's calls on an order-10
// matrix (the smallest at which the solver hands work to a second thread),
// for the tests that refuse its allocations one by one: each call's line is
// its result's digest, or the error it threw. It writes nothing else, and
// every outcome of a call ends the program with status 0. Its last line
// tells whether the calls changed how any signal is handled.
#include <signal.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "blockeig/blockeig.hpp"

namespace {

std::uint64_t digest(const std::vector<double>& values, std::uint64_t h = 1469598103934665603u) {
  for (const double x : values) h = (h ^ std::bit_cast<std::uint64_t>(x)) * 1099511628211u;
  return h;
}

template <class Call>
void report(const char* name, Call&& call) {
  try {
    std::printf("%s %llx\n", name, static_cast<unsigned long long>(call()));
  } catch (const blockeig::Error& e) {
    std::printf("%s error %d\n", name, static_cast<int>(e.code()));
  } catch (const std::exception&) {
    std::printf("%s other exception\n", name);
  }
}

// Every signal's handler, as the process has it now.
struct Dispositions {
  void (*handler[NSIG])(int) = {};
  Dispositions() {
    for (int s = 1; s < NSIG; ++s) {
      struct sigaction action {};
      if (sigaction(s, nullptr, &action) == 0) handler[s] = action.sa_handler;
    }
  }
  bool operator==(const Dispositions& other) const {
    for (int s = 1; s < NSIG; ++s)
      if (handler[s] != other.handler[s]) return false;
    return true;
  }
};

}  // namespace

int main() {
  static const Dispositions at_start;
  // Held by the program itself: the refusals are for the library's calls.
  constexpr int n = 10;
  static double a[n * n];
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) a[i + j * n] = i == j ? 2.0 + i : 1.0 / (1 + i + j);
  const blockeig::MatrixRef ref{a, n, n};
  const blockeig::Options two{2};
  report("eigenvalues", [&] { return digest(blockeig::eigenvalues(ref, two).values); });
  report("eigensystem", [&] { return digest(blockeig::eigensystem(ref, two).vectors); });
  report("block_sweeps", [&] {
    int sweeps = 0;
    const blockeig::BlockResult r = blockeig::block_sweeps(ref, 2, [&](const blockeig::Sweep&) {
      ++sweeps;
      return blockeig::Decision::go_on;
    }, two);
    return digest(r.E, static_cast<std::uint64_t>(sweeps));
  });
  report("write_scr", [&] {
    blockeig::write_scr("A.SCR", ref);
    return std::uint64_t{1};
  });
  report("read_scr", [&] { return digest(blockeig::read_scr("A.SCR").elements); });
  static const Dispositions at_end;
  std::printf("signals %s\n", at_start == at_end ? "unchanged" : "changed");
  return 0;
}
