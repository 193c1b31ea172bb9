#include "bench/openblas_peer.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "bench/bench_support.hpp"
#include "bench/peers.hpp"

extern char** environ;

namespace blockeig::bench {

namespace {

constexpr const char* state_variable = "BLOCKEIG_BENCH_OPENBLAS";  // unset, environment
constexpr const char* overrides[] = {"OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE"};
constexpr double tolerance = 1e-12;

std::string saved_name(const char* variable) { return std::string("BLOCKEIG_BENCH_SAVED_") + variable; }

[[noreturn]] void execute_again(char** argv) {
  std::fflush(stdout);
  ::execv("/proc/self/exe", argv);
  std::perror("solver_bench: cannot execute itself again");
  std::exit(2);
}

std::string environment_setting() {
  std::string text;
  for (const char* variable : overrides)
    if (const char* value = std::getenv(saved_name(variable).c_str()))
      text += (text.empty() ? "" : " ") + std::string(variable) + "=" + value;
  return text.empty() ? "none" : text;
}

// Eigenvalues of a by the reference program; empty on failure.
std::vector<double> reference_eigenvalues(const std::string& reference, const std::string& work, int n,
                                          const std::vector<double>& a) {
  const std::string in = work + "/reference_in", out = work + "/reference_out";
  {
    std::ofstream file(in, std::ios::binary | std::ios::trunc);
    const std::int32_t order = n;
    file.write(reinterpret_cast<const char*>(&order), sizeof order);
    file.write(reinterpret_cast<const char*>(a.data()), static_cast<std::streamsize>(a.size() * sizeof(double)));
  }
  std::string program = reference;
  std::string arguments[] = {in, out};
  char* argv[] = {program.data(), arguments[0].data(), arguments[1].data(), nullptr};
  pid_t pid = 0;
  int status = 0;
  if (::posix_spawn(&pid, reference.c_str(), nullptr, nullptr, argv, environ) != 0 ||
      ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return {};
  std::vector<double> values(static_cast<std::size_t>(n));
  std::ifstream file(out, std::ios::binary);
  file.read(reinterpret_cast<char*>(values.data()), static_cast<std::streamsize>(values.size() * sizeof(double)));
  return file ? values : std::vector<double>{};
}

double largest_difference(const std::vector<double>& x, const std::vector<double>& y) {
  const double norm = std::max(std::fabs(y.front()), std::fabs(y.back()));
  double d = 0;
  for (std::size_t i = 0; i < x.size(); ++i) d = std::max(d, std::fabs(x[i] - y[i]));
  return d / norm;
}

}  // namespace

void load_openblas_unconstrained(char** argv) {
  if (std::getenv(state_variable) != nullptr) return;
  for (const char* variable : overrides) {
    if (const char* value = std::getenv(variable)) ::setenv(saved_name(variable).c_str(), value, 1);
    ::unsetenv(variable);
  }
  ::setenv(state_variable, "unset", 1);
  execute_again(argv);
}

PeerSetup check_openblas(char** argv, const std::string& reference, const std::string& work) {
  PeerSetup setup;
  setup.core = openblas_get_corename();
  setup.config = openblas_get_config();
  setup.fell_back = std::string(std::getenv(state_variable)) == "environment";
  bool failed = false;
  for (const int n : {200, 600}) {
    const std::vector<double> a = random_symmetric(n, 4200 + n);
    const std::vector<double> judge = reference_eigenvalues(reference, work, n, a);
    std::vector<double> vec, values_n(n), values_v(n), values_d(n);
    const bool ran = lapack_dsyev_values(n, a, values_n) == 0 && lapack_dsyev(n, a, vec, values_v) == 0 &&
                     lapack_dsyevd(n, a, vec, values_d) == 0;
    if (judge.empty() || !ran) {
      failed = true;
      continue;
    }
    for (const std::vector<double>* values : {&values_n, &values_v, &values_d})
      setup.difference = std::max(setup.difference, largest_difference(*values, judge));
  }
  failed = failed || !(setup.difference <= tolerance);
  const std::string saved = environment_setting();
  if (setup.fell_back) {
    setup.settings = "the environment's setting (" + saved + "): with both variables unset, OpenBLAS's eigenvalues "
                     "disagreed with the reference LAPACK's";
  } else if (failed && saved != "none") {
    for (const char* variable : overrides)
      if (const char* value = std::getenv(saved_name(variable).c_str())) ::setenv(variable, value, 1);
    ::setenv(state_variable, "environment", 1);
    std::fprintf(stderr, "solver_bench: OpenBLAS without OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE disagrees with the "
                         "reference LAPACK (%.1e ||A||); running again with %s\n",
                 setup.difference, saved.c_str());
    execute_again(argv);
  } else {
    setup.settings = "OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE unset (this environment sets " + saved + ")";
  }
  if (failed) setup.settings += "; CHECK AGAINST THE REFERENCE LAPACK FAILED";
  return setup;
}

}  // namespace blockeig::bench
