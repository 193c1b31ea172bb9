// blockeig: the eigenvalues of a symmetric matrix from A.SCR, computed
// directly and by block Rayleigh-Ritz sweeps.
#include <cerrno>
#include <cstdio>
#include <new>

#include "driver/command_line.hpp"
#include "driver/run_sequence.hpp"
#include "eigen/thread_pool.hpp"
#include "io/settings.hpp"
#include "io/report.hpp"
#include "io/startup.hpp"

int main(int argc, char** argv) {
  const blockeig::Request request = blockeig::command_line_request(argc, argv);
  if (request == blockeig::Request::help) return blockeig::print_help(), 0;
  if (request == blockeig::Request::version) return blockeig::print_version(), 0;
  try {
    blockeig::io::start_up("main.cpp");
    if (request == blockeig::Request::settings) {
      blockeig::print_settings();
      std::fflush(stdout);
      blockeig::io::close_down();
    }
    blockeig::set_thread_count(blockeig::io::settings().threads);
    blockeig::run_sequence();
  } catch (const std::bad_alloc&) {
    // The program's operator new reports a refusal itself; this catches a
    // std::bad_alloc that a library raises of its own accord.
    blockeig::io::allocation_failure(ENOMEM);
  }
  blockeig::io::close_down();
}
