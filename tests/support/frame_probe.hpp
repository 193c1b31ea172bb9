#pragma once
// The frame probe (frame_probe_main.cxx), which runs single run-time and
// I/O statements, run as a child in a directory of its own.
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.hpp"

namespace blockeig::testing {

inline constexpr const char* traceback = "Traceback: not available, compile with -ftrace=frame or -ftrace=full\n";

inline ChildResult probe(const TempDir& dir, std::vector<std::string> arguments, std::string input = {},
                         std::vector<std::string> environment = {}) {
  ChildOptions options;
  options.directory = dir.path();
  options.input = std::move(input);
  options.environment = std::move(environment);
  return run_child(FRAME_PROBE_BIN, arguments, options);
}

}  // namespace blockeig::testing
