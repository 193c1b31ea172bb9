#include "tools/generators.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <random>

#include "arithmetic/extended.hpp"

namespace scrtool {

namespace {

using blockeig::ext;

constexpr KindInfo kind_table[] = {
    {Kind::random, "random", "symmetric, elements uniform in [-1, 1) from the seed", false},
    {Kind::tridiagonal, "tridiag", "the 1-2-1 matrix: 2 on the diagonal, -1 beside it", true},
    {Kind::clement, "clement", "Clement's matrix: zero diagonal, sqrt(k(n-k)) beside it", true},
    {Kind::wilkinson, "wilkinson", "Wilkinson's W+: |(n+1)/2 - i| on the diagonal, 1 beside it", false},
    {Kind::hilbert, "hilbert", "the Hilbert matrix 1/(i+j-1)", false},
    {Kind::ones, "ones", "every element 1", true},
    {Kind::diagonal, "diagonal", "diag(1, 2, ..., n)", true},
    {Kind::clustered, "clustered", "Q*D*Q^T, Q orthogonal from the seed, D in clusters of 4 eigenvalues 1e-8 apart", true},
};

// A uniform double in [0, 1) from the top 53 bits, the same on every
// platform (the standard distributions are not).
double unit_uniform(std::mt19937_64& engine) { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }

void fill_random(Matrix& m, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  for (std::int64_t j = 1; j <= m.n; ++j)
    for (std::int64_t i = j; i <= m.n; ++i) m(i, j) = m(j, i) = 2.0 * unit_uniform(engine) - 1.0;
}

// sin(x) for 0 < x < 2, rounded once to ext: the Taylor series summed in
// fixed point with 126 fraction bits, so that the result is the same on
// every machine (a library's sine is not, and the x87 unit's fsin differs
// between processor makers).
using u128 = unsigned __int128;
constexpr int fraction_bits = 126;

// (a b) >> 126 for a, b < 2^128 whose product stays below 2^254.
u128 fixed_product(u128 a, u128 b) {
  constexpr u128 low = ~std::uint64_t{0};
  const u128 ll = (a & low) * (b & low), lh = (a & low) * (b >> 64), hl = (a >> 64) * (b & low);
  const u128 hh = (a >> 64) * (b >> 64);
  const u128 middle = (ll >> 64) + (lh & low) + (hl & low);
  const u128 high = hh + (lh >> 64) + (hl >> 64) + (middle >> 64);
  return high << (128 - fraction_bits) | (middle << 64 | (ll & low)) >> fraction_bits;
}

// The 64-bit integer held exactly by the ext value x (0 <= x < 2^64).
u128 integer_of(ext x) {
  const auto head = static_cast<double>(x);
  const auto tail = static_cast<double>(x - ext(head));
  return static_cast<u128>(head) + static_cast<u128>(static_cast<std::int64_t>(tail));
}

ext sine(ext x) {
  // x = M 2^(e - 63) with M a 64-bit integer; in fixed point M 2^(e + 63).
  int e = 0;
  while (x >= ext(std::ldexp(1.0, e + 1))) ++e;
  while (x < ext(std::ldexp(1.0, e))) --e;
  const u128 xf = integer_of(x * ext(std::ldexp(1.0, 63 - e))) << (e + 63);
  const u128 x2 = fixed_product(xf, xf);
  u128 sum = xf, term = xf;
  for (std::uint64_t i = 1; term != 0; ++i) {
    term = fixed_product(term, x2) / ((2 * i) * (2 * i + 1));
    sum = i % 2 != 0 ? sum - term : sum + term;
  }
  // Rounded to 64 bits at the position of its leading bit.
  int lead = 127;
  while ((sum >> lead) == 0) --lead;
  const int drop = lead - 63;
  u128 kept = sum >> drop;
  const u128 rest = sum & ((u128{1} << drop) - 1), half = u128{1} << (drop - 1);
  if (rest > half || (rest == half && (kept & 1) != 0)) ++kept;
  const ext whole = ext(static_cast<double>(static_cast<std::uint64_t>(kept >> 11))) * 2048.0 +
                    ext(static_cast<double>(static_cast<std::uint64_t>(kept & 2047)));
  return whole * ext(std::ldexp(1.0, drop - fraction_bits));
}

void fill_tridiagonal(Matrix& m, std::vector<double>& values) {
  const std::int64_t n = m.n;
  for (std::int64_t i = 1; i <= n; ++i) {
    m(i, i) = 2.0;
    if (i < n) m(i, i + 1) = m(i + 1, i) = -1.0;
  }
  // 2 - 2cos(x) = 4 sin^2(x/2), without the cancellation near x = 0.
  // pi rounded to ext, from its head and tail as doubles.
  const ext pi = ext(0x1.921fb54442d18p+1) + ext(0x1.1a62633145c07p-53);
  for (std::int64_t k = 1; k <= n; ++k) {
    const ext s = sine(ext(k) * pi / (2.0 * ext(n + 1)));
    values.push_back(static_cast<double>(4.0 * s * s));
  }
}

void fill_clement(Matrix& m, std::vector<double>& values) {
  const std::int64_t n = m.n;
  for (std::int64_t k = 1; k < n; ++k)
    m(k, k + 1) = m(k + 1, k) = static_cast<double>(blockeig::sqrt(ext(k * (n - k))));
  for (std::int64_t k = 0; k < n; ++k) values.push_back(static_cast<double>(-(n - 1) + 2 * k));
}

void fill_wilkinson(Matrix& m) {
  const std::int64_t n = m.n;
  for (std::int64_t i = 1; i <= n; ++i) {
    m(i, i) = std::fabs(static_cast<double>(n + 1) / 2.0 - static_cast<double>(i));
    if (i < n) m(i, i + 1) = m(i + 1, i) = 1.0;
  }
}

void fill_hilbert(Matrix& m) {
  for (std::int64_t j = 1; j <= m.n; ++j)
    for (std::int64_t i = 1; i <= m.n; ++i) m(i, j) = 1.0 / static_cast<double>(i + j - 1);
}

void fill_ones(Matrix& m, std::vector<double>& values) {
  std::fill(m.a.begin(), m.a.end(), 1.0);
  values.assign(static_cast<std::size_t>(m.n) - 1, 0.0);
  values.push_back(static_cast<double>(m.n));
}

void fill_diagonal(Matrix& m, std::vector<double>& values) {
  for (std::int64_t i = 1; i <= m.n; ++i) {
    m(i, i) = static_cast<double>(i);
    values.push_back(static_cast<double>(i));
  }
}

// A <- H A H with H = I - 2 v v^T / (v^T v), as the symmetric rank-two
// update A - v w^T - w v^T, so that A stays symmetric bit for bit.
void reflect(Matrix& m, const std::vector<ext>& v) {
  const std::int64_t n = m.n;
  ext vv = 0;
  for (ext x : v) vv += x * x;
  const ext tau = 2.0 / vv;
  std::vector<ext> p(static_cast<std::size_t>(n), ext(0));
  for (std::int64_t i = 1; i <= n; ++i) {
    ext sum = 0;
    for (std::int64_t k = 1; k <= n; ++k) sum += ext(m(i, k)) * v[static_cast<std::size_t>(k - 1)];
    p[static_cast<std::size_t>(i - 1)] = tau * sum;
  }
  ext vp = 0;
  for (std::int64_t k = 0; k < n; ++k) vp += v[static_cast<std::size_t>(k)] * p[static_cast<std::size_t>(k)];
  const ext half = tau * vp / 2.0;
  for (std::int64_t k = 0; k < n; ++k) p[static_cast<std::size_t>(k)] -= half * v[static_cast<std::size_t>(k)];
  for (std::int64_t j = 1; j <= n; ++j)
    for (std::int64_t i = j; i <= n; ++i) {
      const std::size_t a = static_cast<std::size_t>(i - 1), b = static_cast<std::size_t>(j - 1);
      m(i, j) = m(j, i) = static_cast<double>(ext(m(i, j)) - v[a] * p[b] - p[a] * v[b]);
    }
}

void fill_clustered(Matrix& m, std::uint64_t seed, std::vector<double>& values) {
  const std::int64_t n = m.n;
  for (std::int64_t k = 0; k < n; ++k) {
    const double value = static_cast<double>(1 + k / 4) + static_cast<double>(k % 4) * 1e-8;
    values.push_back(value);
    m(k + 1, k + 1) = value;
  }
  // A few dense random reflections make Q full without an O(n^4) product.
  std::mt19937_64 engine(seed);
  const std::int64_t reflections = std::min<std::int64_t>(n, 8);
  std::vector<ext> v(static_cast<std::size_t>(n));
  for (std::int64_t r = 0; r < reflections; ++r) {
    for (ext& x : v) x = 2.0 * ext(unit_uniform(engine)) - 1.0;
    reflect(m, v);
  }
}

}  // namespace

std::span<const KindInfo> kinds() { return kind_table; }

const KindInfo* find_kind(std::string_view name) {
  for (const KindInfo& info : kind_table)
    if (info.name == name) return &info;
  return nullptr;
}

Generated generate(Kind kind, std::int32_t n, std::uint64_t seed) {
  assert(n >= min_order && n <= max_order);
  Generated g{Matrix(n), std::nullopt};
  std::vector<double> values;
  switch (kind) {
    case Kind::random: fill_random(g.matrix, seed); break;
    case Kind::tridiagonal: fill_tridiagonal(g.matrix, values); break;
    case Kind::clement: fill_clement(g.matrix, values); break;
    case Kind::wilkinson: fill_wilkinson(g.matrix); break;
    case Kind::hilbert: fill_hilbert(g.matrix); break;
    case Kind::ones: fill_ones(g.matrix, values); break;
    case Kind::diagonal: fill_diagonal(g.matrix, values); break;
    case Kind::clustered: fill_clustered(g.matrix, seed, values); break;
  }
  for (const KindInfo& info : kind_table)
    if (info.kind == kind && info.known_spectrum) g.eigenvalues = std::move(values);
  return g;
}

}  // namespace scrtool
