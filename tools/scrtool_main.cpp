// scrtool: makes, converts and checks A.SCR files for blockeig, and plots
// the sweeps of a blockeig run.
#include <iostream>
#include <string>
#include <vector>

#include "tools/scrtool_cli.hpp"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = scrtool::run_scrtool(args, std::cout, std::cerr);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "scrtool: cannot write standard output\n";
    return 2;
  }
  return status;
}
