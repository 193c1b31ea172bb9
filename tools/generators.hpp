#pragma once
// Test matrices for blockeig, with their exact spectra where one is known.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "tools/matrix.hpp"

namespace scrtool {

enum class Kind { random, tridiagonal, clement, wilkinson, hilbert, ones, diagonal, clustered };

struct KindInfo {
  Kind kind;
  std::string_view name;
  std::string_view description;
  bool known_spectrum;
};
std::span<const KindInfo> kinds();
const KindInfo* find_kind(std::string_view name);

struct Generated {
  Matrix matrix;
  // Ascending eigenvalues where they are known in closed form or by construction.
  std::optional<std::vector<double>> eigenvalues;
};

// Requires min_order <= n <= max_order. `seed` drives the random and the
// clustered kinds and is ignored by the others.
Generated generate(Kind kind, std::int32_t n, std::uint64_t seed);

}  // namespace scrtool
