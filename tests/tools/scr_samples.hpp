#pragma once
// The corpus of A.SCR files that the readers' tests run: the damaged and
// the tolerated files of the record and run tests, and the inputs of the
// fuzz corpora that hold an A.SCR (fuzz_record_reader's, and fuzz_program's
// where libFuzzer's header is found to decode them).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/scr_file.hpp"

#ifdef BLOCKEIG_FUZZED_DATA_PROVIDER
#include "fuzz/program_input.hpp"
#endif

namespace scrtool {

struct ScrSample {
  std::string name;
  std::string file;
  bool big = false;  // read big-endian (BLOCKEIG_CONVERT=big_endian)
};

inline std::vector<std::filesystem::path> fuzz_inputs(const std::string& folder) {
  std::vector<std::filesystem::path> paths;
  const std::filesystem::path dir = std::filesystem::path(BLOCKEIG_SOURCE_DIR) / "fuzz" / folder;
  if (std::filesystem::exists(dir))
    for (const auto& entry : std::filesystem::directory_iterator(dir)) paths.push_back(entry.path());
  return paths;
}

inline std::vector<ScrSample> scr_samples() {
  std::vector<ScrSample> samples;
  for (const auto& [name, file] : blockeig::testing::damaged_matrix_files()) samples.push_back({name, file});
  for (const auto& [name, file] : blockeig::testing::tolerated_matrix_files()) samples.push_back({name, file});
  // fuzz_record_reader's inputs: a flag byte (bit 0: reversed), then the file.
  for (const std::string folder : {"corpus/record_reader", "regressions/record_reader"})
    for (const std::filesystem::path& path : fuzz_inputs(folder)) {
      const std::string input = blockeig::testing::read_file(path);
      if (!input.empty())
        samples.push_back({folder + "/" + path.filename().string(), input.substr(1), (input[0] & 1) != 0});
    }
#ifdef BLOCKEIG_FUZZED_DATA_PROVIDER
  // fuzz_program's inputs, decoded as the fuzzer decodes them.
  for (const std::filesystem::path& path : fuzz_inputs("corpus/program")) {
    const std::string input = blockeig::testing::read_file(path);
    const auto decoded =
        blockeig::fuzz::decode_program_input(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    samples.push_back({"corpus/program/" + path.filename().string(), decoded.file, decoded.big});
  }
#else
  static const bool said = (std::printf("fuzz_program's corpus left out: FuzzedDataProvider.h (libclang-rt-14-dev) not found\n"), true);
  (void)said;
#endif
  return samples;
}

}  // namespace scrtool
