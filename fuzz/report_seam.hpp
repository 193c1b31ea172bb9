#pragma once
// The in-process fuzz targets replace the run-time's report (runtime/report.cpp)
// with one that throws RunEnded: the target sees how the run would have
// ended (exit status and message) and goes on with the next input.
#include <string>

namespace blockeig::fuzz {

struct RunEnded {
  int status;           // the exit status the report would have given
  int code;             // the run-time error code (0 for non-error reports)
  std::string message;  // the "Fortran runtime error: " text, or the OS text
};

}  // namespace blockeig::fuzz
