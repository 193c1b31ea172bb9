#pragma once
// scrtool's command line, runnable in-process: `args` are the arguments
// after the program name; normal output goes to `out`, messages to `err`.
// Returns the exit status (0, 1 for an 'info' verdict against the file, 2
// for usage and input errors).
#include <ostream>
#include <string>
#include <vector>

namespace scrtool {

int run_scrtool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace scrtool
