#pragma once
// The matrices and block counts that the end-to-end tests run the program
// on (the run, direct-phase, non-finite and side-by-side tests and the
// bundled example), for the tests that hold the library and the Python
// module to the program's own bits on every one of them.
#include <cstdint>
#include <string>
#include <vector>

namespace blockeig::testing {

struct EndToEndCase {
  std::string name;  // letters, digits and '_' only: a directory name
  std::int32_t n;
  std::vector<double> matrix;  // column by column
  std::int32_t nblocks;
};

const std::vector<EndToEndCase>& end_to_end_cases();

}  // namespace blockeig::testing
