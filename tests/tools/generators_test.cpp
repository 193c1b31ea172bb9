#include "tools/generators.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>

namespace scrtool {
namespace {

bool bitwise_symmetric(const Matrix& m) {
  for (std::int64_t j = 1; j <= m.n; ++j)
    for (std::int64_t i = j + 1; i <= m.n; ++i)
      if (std::bit_cast<std::uint64_t>(m(i, j)) != std::bit_cast<std::uint64_t>(m(j, i))) return false;
  return true;
}

// Jacobi rotations in extended precision: a slow, obviously correct judge
// of the spectra that the generators claim.
std::vector<double> jacobi_eigenvalues(const Matrix& m) {
  const std::size_t n = static_cast<std::size_t>(m.n);
  std::vector<long double> a(m.a.begin(), m.a.end());
  const auto at = [&](std::size_t i, std::size_t j) -> long double& { return a[j * n + i]; };
  for (int sweep = 0; sweep < 60; ++sweep) {
    long double off = 0;
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t i = 0; i < n; ++i)
        if (i != j) off += at(i, j) * at(i, j);
    if (off < 1e-40L) break;
    for (std::size_t p = 0; p < n; ++p)
      for (std::size_t q = p + 1; q < n; ++q) {
        if (at(p, q) == 0) continue;
        const long double theta = (at(q, q) - at(p, p)) / (2 * at(p, q));
        const long double t = (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
        const long double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (std::size_t k = 0; k < n; ++k) {
          const long double kp = at(k, p), kq = at(k, q);
          at(k, p) = c * kp - s * kq;
          at(k, q) = s * kp + c * kq;
        }
        for (std::size_t k = 0; k < n; ++k) {
          const long double pk = at(p, k), qk = at(q, k);
          at(p, k) = c * pk - s * qk;
          at(q, k) = s * pk + c * qk;
        }
      }
  }
  std::vector<double> values;
  for (std::size_t i = 0; i < n; ++i) values.push_back(static_cast<double>(at(i, i)));
  std::sort(values.begin(), values.end());
  return values;
}

TEST(Generators, EveryKindIsSymmetricAndDeterministic) {
  for (const KindInfo& info : kinds()) {
    SCOPED_TRACE(std::string(info.name));
    const Generated a = generate(info.kind, 9, 42);
    const Generated b = generate(info.kind, 9, 42);
    EXPECT_EQ(a.matrix.n, 9);
    EXPECT_TRUE(bitwise_symmetric(a.matrix));
    EXPECT_EQ(a.matrix.a, b.matrix.a);
    EXPECT_EQ(a.eigenvalues.has_value(), info.known_spectrum);
    if (a.eigenvalues) {
      EXPECT_EQ(a.eigenvalues->size(), 9u);
      EXPECT_TRUE(std::is_sorted(a.eigenvalues->begin(), a.eigenvalues->end()));
    }
    EXPECT_EQ(find_kind(info.name), &info);
  }
  EXPECT_EQ(find_kind("gauss"), nullptr);
  EXPECT_NE(generate(Kind::random, 5, 1).matrix.a, generate(Kind::random, 5, 2).matrix.a);
}

// The stated spectra against an independent solver, within a few ulps of
// the largest eigenvalue (the clustered kind also carries the rounding of
// forming Q*D*Q^T).
TEST(Generators, KnownSpectraAreTheSpectra) {
  for (const KindInfo& info : kinds()) {
    if (!info.known_spectrum) continue;
    for (std::int32_t n : {2, 3, 8, 13}) {
      SCOPED_TRACE(std::string(info.name) + " " + std::to_string(n));
      const Generated g = generate(info.kind, n, 7);
      const std::vector<double> judged = jacobi_eigenvalues(g.matrix);
      double scale = 1;
      for (double v : *g.eigenvalues) scale = std::max(scale, std::fabs(v));
      for (std::size_t k = 0; k < judged.size(); ++k) EXPECT_NEAR(judged[k], (*g.eigenvalues)[k], 64 * n * 0x1p-52 * scale);
    }
  }
}

TEST(Generators, ClosedForms) {
  const Generated t = generate(Kind::tridiagonal, 4, 0);
  EXPECT_EQ(t.matrix.a, (std::vector<double>{2, -1, 0, 0, -1, 2, -1, 0, 0, -1, 2, -1, 0, 0, -1, 2}));
  EXPECT_NEAR((*t.eigenvalues)[0], 2 - 2 * std::cos(M_PI / 5), 1e-16);
  const Generated c = generate(Kind::clement, 4, 0);
  EXPECT_EQ(*c.eigenvalues, (std::vector<double>{-3, -1, 1, 3}));
  EXPECT_EQ(c.matrix(1, 2), std::sqrt(3.0));
  EXPECT_EQ(c.matrix(2, 3), 2.0);
  const Generated w = generate(Kind::wilkinson, 5, 0);
  EXPECT_EQ(w.matrix(1, 1), 2.0);
  EXPECT_EQ(w.matrix(3, 3), 0.0);
  EXPECT_EQ(w.matrix(5, 5), 2.0);
  EXPECT_EQ(generate(Kind::hilbert, 3, 0).matrix(2, 3), 0.25);
  EXPECT_EQ(*generate(Kind::ones, 3, 0).eigenvalues, (std::vector<double>{0, 0, 3}));
  EXPECT_EQ(*generate(Kind::diagonal, 3, 0).eigenvalues, (std::vector<double>{1, 2, 3}));
  const std::vector<double> clustered = *generate(Kind::clustered, 6, 0).eigenvalues;
  EXPECT_EQ(clustered[0], 1.0);
  EXPECT_EQ(clustered[3], 1.0 + 3e-8);
  EXPECT_EQ(clustered[4], 2.0);
}

}  // namespace
}  // namespace scrtool
