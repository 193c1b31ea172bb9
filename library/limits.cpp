// The limits the library's calls hold to, from the constants the program
// and its files are built on.
#include <limits>

#include "blockeig/blockeig.hpp"
#include "io/record_format.hpp"
#include "runtime/run_constants.hpp"
#include "runtime/settings.hpp"

namespace blockeig {

Limits limits() noexcept {
  return {run::min_matrix_order, std::numeric_limits<std::int32_t>::max(), io::max_matrix_order,
          runtime::max_threads};
}

}  // namespace blockeig
