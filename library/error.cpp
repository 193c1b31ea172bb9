#include <limits>
#include <string>

#include "blockeig/blockeig.hpp"
#include "arithmetic/extended.hpp"
#include "arithmetic/extended_kernels.hpp"
#include "io/record_format.hpp"
#include "runtime/run_constants.hpp"
#include "runtime/settings.hpp"

namespace blockeig {

namespace {

// What an error says when there was no memory for its own message.
const char* plain_text(Errc code) {
  switch (code) {
    case Errc::bad_order: return "blockeig: bad order";
    case Errc::bad_matrix: return "blockeig: bad matrix";
    case Errc::bad_block_count: return "blockeig: bad block count";
    case Errc::bad_thread_count: return "blockeig: bad thread count";
    case Errc::out_of_memory: return "blockeig: memory refused";
    case Errc::file_error: return "blockeig: file error";
    case Errc::damaged_file: return "blockeig: damaged matrix file";
    case Errc::bad_sweep_rule: return "blockeig: bad tol or max_sweeps";
    case Errc::bad_partition: return "blockeig: bad partition";
    case Errc::bad_start: return "blockeig: bad start basis";
  }
  return "blockeig: error";
}

}  // namespace

Error::Error(Errc code, std::string_view message, int system_error) noexcept
    : code_(code), system_error_(system_error) {
  try {
    message_ = std::make_shared<const std::string>("blockeig: " + std::string(message));
  } catch (...) {
    // what() falls back to the plain text of the code.
  }
}

const char* Error::what() const noexcept { return message_ ? message_->c_str() : plain_text(code_); }

std::string_view version() noexcept { return BLOCKEIG_VERSION; }

std::string_view arithmetic() noexcept { return extended_arithmetic; }

std::string_view kernels_in_use() noexcept { return kernels::in_use(); }

// From the constants the program and its files are built on.
Limits limits() noexcept {
  return {run::min_matrix_order, std::numeric_limits<std::int32_t>::max(), io::max_matrix_order,
          runtime::max_threads};
}

}  // namespace blockeig
