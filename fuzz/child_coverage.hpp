#pragma once
// Edge coverage of the program run as a child, shared with the fuzzer
// through a memory file: the child (built with
// -fsanitize-coverage=trace-pc-guard and child_coverage.cpp) counts its
// edges into the file named by the descriptor in BLOCKEIG_FUZZ_COVERAGE_FD.
#include <cstddef>

namespace blockeig::fuzz {

inline constexpr std::size_t coverage_map_size = 1 << 16;
inline constexpr const char* coverage_fd_variable = "BLOCKEIG_FUZZ_COVERAGE_FD";

}  // namespace blockeig::fuzz
