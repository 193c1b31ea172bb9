#pragma once
// What the benchmarks that set the solver's phases against the x87 unit
// count: each phase's multiply-add terms for a matrix of order n whose steps
// all reduce (see arithmetic_bench.cpp for how each count follows from the
// loops), the rotations the QL iteration makes, and the processor's name.
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "arithmetic/extended.hpp"
#include "eigen/precision.hpp"
#include "eigen/sign.hpp"

namespace blockeig::bench {

inline double reduction_terms(int n) {
  double terms = 0;
  for (double l = 2; l <= n - 1; ++l) terms += l * l + l * (l + 1);
  return terms;
}

inline double accumulation_terms(int n) {
  double terms = 0;
  for (double l = 2; l <= n - 1; ++l) terms += 2 * l * l;
  return terms;
}

// The rotations tql12 makes on the tridiagonal matrix d (diagonal) and e
// (e(i), i = 2..n, the sub-diagonal): its iteration in values only, counted.
inline double ql_rotations(int n, std::vector<double> d, std::vector<double> e) {
  const double eps = ql_precision();
  for (int i = 1; i < n; ++i) e[i - 1] = e[i];
  e[n - 1] = 0.0;
  double f = 0.0, b = 0.0, rotations = 0;
  for (int l = 1; l <= n; ++l) {
    const ext h = static_cast<ext>(eps) * (fabs(static_cast<ext>(d[l - 1])) + fabs(static_cast<ext>(e[l - 1])));
    if (h > b) b = static_cast<double>(h);
    int m = l;
    while (m < n && !(std::fabs(e[m - 1]) <= b)) ++m;
    for (int j = 0; m != l && j < 30; ++j) {
      const ext g0 = d[l - 1];
      const ext q = (static_cast<ext>(d[l]) - g0) / (2.0 * static_cast<ext>(e[l - 1]));
      double p = static_cast<double>(q);
      const double r0 = static_cast<double>(sqrt(q * q + 1.0));
      const ext dl = static_cast<ext>(e[l - 1]) / (static_cast<ext>(p) + static_cast<ext>(sign(r0, p)));
      d[l - 1] = static_cast<double>(dl);
      const ext shift = g0 - dl;
      for (int i = l + 1; i <= n; ++i) d[i - 1] = static_cast<double>(static_cast<ext>(d[i - 1]) - shift);
      f = static_cast<double>(static_cast<ext>(f) + shift);
      p = d[m - 1];
      ext c = 1.0, s = 0.0;
      for (int i = m - 1; i >= l; --i, ++rotations) {
        const ext g = c * static_cast<ext>(e[i - 1]);
        const ext hh = c * static_cast<ext>(p);
        ext t, r;
        if (std::fabs(e[i - 1]) > std::fabs(p)) {
          t = static_cast<ext>(p) / static_cast<ext>(e[i - 1]);
          r = sqrt(t * t + 1.0);
          e[i] = static_cast<double>(s * static_cast<ext>(e[i - 1]) * r);
          s = 1.0 / static_cast<ext>(static_cast<double>(r));
          c = t * s;
        } else {
          t = static_cast<ext>(e[i - 1]) / static_cast<ext>(p);
          r = sqrt(t * t + 1.0);
          e[i] = static_cast<double>(s * static_cast<ext>(p) * r);
          s = t / static_cast<ext>(static_cast<double>(r));
          c = 1.0 / static_cast<ext>(static_cast<double>(r));
        }
        p = static_cast<double>(c * static_cast<ext>(d[i - 1]) - s * g);
        d[i] = static_cast<double>(hh + s * (c * g + s * static_cast<ext>(d[i - 1])));
      }
      e[l - 1] = static_cast<double>(s * static_cast<ext>(p));
      d[l - 1] = static_cast<double>(c * static_cast<ext>(p));
      if (std::fabs(e[l - 1]) <= b) break;
    }
    d[l - 1] = static_cast<double>(static_cast<ext>(d[l - 1]) + static_cast<ext>(f));
  }
  return rotations;
}

inline std::string model_name() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos)
      return line.substr(line.find_first_not_of(" \t", line.find(':') + 1));
  return "unknown (no model name in /proc/cpuinfo)";
}

}  // namespace blockeig::bench
