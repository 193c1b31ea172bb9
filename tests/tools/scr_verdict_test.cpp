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

#ifdef BLOCKEIG_FUZZED_DATA_PROVIDER
#include "fuzz/program_input.hpp"
#endif

namespace scrtool {
namespace {

namespace fs = std::filesystem;
using blockeig::testing::ChildOptions;
using blockeig::testing::ChildResult;
using blockeig::testing::read_file;
using blockeig::testing::TempDir;

struct Sample {
  std::string name;
  std::string file;
  bool big = false;  // read with BLOCKEIG_CONVERT=big_endian
};

std::vector<fs::path> corpus(const std::string& folder) {
  std::vector<fs::path> paths;
  const fs::path dir = fs::path(BLOCKEIG_SOURCE_DIR) / "fuzz" / folder;
  if (fs::exists(dir))
    for (const auto& entry : fs::directory_iterator(dir)) paths.push_back(entry.path());
  return paths;
}

// fuzz_record_reader's inputs: a flag byte (bit 0: reversed), then the file.
void add_record_reader_inputs(std::vector<Sample>& samples) {
  for (const std::string folder : {"corpus/record_reader", "regressions/record_reader"})
    for (const fs::path& path : corpus(folder)) {
      const std::string input = read_file(path);
      if (!input.empty()) samples.push_back({folder + "/" + path.filename().string(), input.substr(1), (input[0] & 1) != 0});
    }
}

// fuzz_program's inputs, decoded as the fuzzer decodes them.
void add_program_inputs(std::vector<Sample>& samples) {
#ifdef BLOCKEIG_FUZZED_DATA_PROVIDER
  for (const fs::path& path : corpus("corpus/program")) {
    const std::string input = read_file(path);
    const auto decoded =
        blockeig::fuzz::decode_program_input(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    samples.push_back({"corpus/program/" + path.filename().string(), decoded.file, decoded.big});
  }
#else
  (void)samples;
#endif
}

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
  std::vector<Sample> samples;
  for (const auto& [name, file] : blockeig::testing::damaged_matrix_files()) samples.push_back({name, file});
  add_record_reader_inputs(samples);
  add_program_inputs(samples);
#ifndef BLOCKEIG_FUZZED_DATA_PROVIDER
  std::printf("fuzz_program's corpus left out: FuzzedDataProvider.h (libclang-rt-14-dev) not found\n");
#endif
  int damaged = 0;
  for (const Sample& sample : samples) {
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
