// Sorting eigenpairs and orthonormalizing a basis: the solver's reporder
// and ortog, for the library's callers.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "blockeig/blockeig.hpp"
#include "eigen/solver.hpp"
#include "library/call.hpp"

namespace blockeig {

namespace {

// The order n of a square array of `count` doubles, checked.
std::int32_t checked_square(std::int64_t n, std::size_t count, std::string_view name) {
  if (n < 0 || n > std::numeric_limits<std::int32_t>::max())
    throw Error(Errc::bad_order, "order " + std::to_string(n) + " is not from 0 to " +
                                     std::to_string(std::numeric_limits<std::int32_t>::max()));
  const auto square = static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
  if (count != square)
    throw Error(Errc::bad_matrix, std::string(name) + " holds " + std::to_string(count) + " doubles, not n * n = " +
                                      std::to_string(square) + " for n = " + std::to_string(n));
  return static_cast<std::int32_t>(n);
}

}  // namespace

void sort_eigenpairs(std::span<double> values, std::span<double> vectors) {
  const std::int32_t n = checked_square(static_cast<std::int64_t>(values.size()), vectors.size(), "vectors");
  library::guarded([&] {
    // The comparisons run under the library's environment, whatever traps
    // the caller has set, and one call at a time like every other.
    const library::Call call(1);
    reporder(n, values.data(), vectors.data());
  });
}

void orthonormalize(std::span<double> a, std::int64_t n) {
  const std::int32_t order = checked_square(n, a.size(), "the matrix");
  library::guarded([&] {
    const library::Call call(1);
    ortog(order, a.data());
  });
}

}  // namespace blockeig
