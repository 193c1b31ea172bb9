// blockeig: the eigenvalues of a symmetric matrix from A.SCR, computed
// directly and by block Rayleigh-Ritz sweeps.
#include <cerrno>
#include <new>

#include "driver/run_sequence.hpp"
#include "io/report.hpp"
#include "io/startup.hpp"

int main() {
  blockeig::io::start_up("main.cpp");
  try {
    blockeig::run_sequence();
  } catch (const std::bad_alloc&) {
    // The run-time's own structures (lines, unit records) found no memory.
    blockeig::io::allocation_failure(ENOMEM);
  }
  blockeig::io::close_down();
}
