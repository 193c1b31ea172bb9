// BLOCKEIG_KERNELS: the plain loops (scalar) give the bytes of the
// processor's kernels, in either build, and --version, --settings and the
// results file name what runs.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/end_to_end_matrices.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {
namespace {

ChildResult run(const TempDir& dir, const std::string& kernels, int threads, const std::string& input,
                const std::vector<std::string>& arguments = {}) {
  ChildOptions options;
  options.directory = dir.path();
  options.input = input;
  options.environment = {"BLOCKEIG_*", "BLOCKEIG_THREADS=" + std::to_string(threads)};
  if (!kernels.empty()) options.environment.push_back("BLOCKEIG_KERNELS=" + kernels);
  return run_child(BLOCKEIG_BIN, arguments, options);
}

nlohmann::json without_clock_times(nlohmann::json d) {
  if (d.is_object()) {
    d.erase("seconds");
    d.erase("results_seconds");
  }
  if (d.is_structured())
    for (auto& value : d) value = without_clock_times(value);
  return d;
}

TEST(KernelChoice, ScalarGivesTheSameBytes) {
  std::vector<EndToEndCase> cases = end_to_end_cases();
  // Few significant bits: exact products, sums often on rounding ties.
  std::vector<double> few_bits = random_symmetric_matrix(96, 13);
  for (double& x : few_bits) x = static_cast<int>(x * 8) / 8.0;
  cases.push_back({"few_bits_96", 96, few_bits, 4});
  // Two threads: the products' and the solves' work split into tasks, whose
  // edges the kernels meet as well.
  for (const EndToEndCase& c : cases)
    for (const int threads : {2}) {
      SCOPED_TRACE(c.name + " on " + std::to_string(threads) + " threads");
      std::string eigenvalues[2], results[2];
      ChildResult runs[2];
      for (int k = 0; k < 2; ++k) {
        TempDir dir;
        write_file(dir / "A.SCR", scr_file(c.n, c.matrix));
        runs[k] = run(dir, k == 0 ? "" : "scalar", threads, std::to_string(c.nblocks) + "\n", {"--results", "r.json"});
        eigenvalues[k] = read_file(dir / "C.SCR.TXT");
        nlohmann::json d = nlohmann::json::parse(read_file(dir / "r.json"));
        EXPECT_EQ(d["program"]["kernels"] == "scalar", k == 1);
        d["program"].erase("kernels");
        d["input"].erase("path");
        results[k] = without_clock_times(d).dump();
      }
      EXPECT_EQ(runs[0].status, runs[1].status);
      EXPECT_EQ(runs[0].out, runs[1].out);
      EXPECT_EQ(runs[0].err, runs[1].err);
      EXPECT_EQ(eigenvalues[0], eigenvalues[1]);
      EXPECT_EQ(results[0], results[1]);
    }
}

TEST(KernelChoice, TheSettingIsNamedAndCheckedEverywhere) {
  TempDir dir;
  const struct {
    const char* kernels;
    std::vector<std::string> arguments;
    int status;
    const char* out;  // the text standard output holds
    const char* err;
  } cases[] = {
      {"scalar", {"--version"}, 0, "extended arithmetic)\nkernels: scalar\n", ""},
      {"", {"--version"}, 0, "extended arithmetic)\nkernels: ", ""},
      {"", {"--settings"}, 0, "BLOCKEIG_KERNELS", ""},
      {"scalar", {"--settings"}, 0, "scalar", ""},
      {"fast", {"--version"}, 2, "", "BLOCKEIG_KERNELS=fast is not a kernel choice; use auto or scalar"},
      {"Scalar", {}, 2, "", "BLOCKEIG_KERNELS=Scalar is not a kernel choice; use auto or scalar"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kernels) + (c.arguments.empty() ? "" : " " + c.arguments[0]));
    const ChildResult r = run(dir, c.kernels, 1, "", c.arguments);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace blockeig::testing
