// scrtool's verdict on a damaged A.SCR held to blockeig's own run on it:
// the predicted report is the program's report, line for line, with the
// same exit status, for every damaged file of the fuzz corpora and of the
// record and run tests. An accepted file gets as far as the question for
// the number of blocks.
#include "tools/scr_verdict.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/scr_file.hpp"
#include "tools/scr_samples.hpp"

namespace scrtool {
namespace {

using blockeig::testing::ChildOptions;
using blockeig::testing::ChildResult;
using blockeig::testing::TempDir;

using Sample = ScrSample;

ChildResult run_blockeig(const Sample& sample) {
  TempDir dir;
  blockeig::testing::write_file(dir / "A.SCR", sample.file);
  ChildOptions options;
  options.directory = dir.path();
  options.environment = {"BLOCKEIG_PROGRESS=0", "BLOCKEIG_THREADS=1",
                         sample.big ? "BLOCKEIG_CONVERT=big_endian" : "BLOCKEIG_CONVERT=native"};
  return run_child(BLOCKEIG_BIN, {}, options);
}

TEST(ScrVerdict, PredictsTheProgramsReport) {
  int damaged = 0;
  for (const Sample& sample : scr_samples()) {
    SCOPED_TRACE(sample.name);
    const Verdict predicted = predict_blockeig(MemorySource(std::span<const std::uint8_t>(
                                                   reinterpret_cast<const std::uint8_t*>(sample.file.data()),
                                                   sample.file.size())),
                                               sample.big ? ByteOrder::big : ByteOrder::little);
    const ChildResult actual = run_blockeig(sample);
    if (predicted.accepted) {
      EXPECT_TRUE(actual.err.starts_with("At line 31 of file main.cpp (Unit 5)\n")) << actual.err;
      continue;
    }
    ++damaged;
    EXPECT_EQ(predicted.report, actual.err);
    EXPECT_EQ(predicted.exit_status, actual.status);
  }
  EXPECT_GE(damaged, static_cast<int>(blockeig::testing::damaged_matrix_files().size()));
}

}  // namespace
}  // namespace scrtool
