#include "support/end_to_end_matrices.hpp"

#include <cmath>
#include <limits>

#include "io/record_format.hpp"
#include "support/child_process.hpp"
#include "support/scr_file.hpp"

namespace blockeig::testing {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

std::vector<double> set(std::vector<double> a, int n, int i, int j, double x, bool both) {
  a[static_cast<std::size_t>(i + j * n)] = x;
  if (both) a[static_cast<std::size_t>(j + i * n)] = x;
  return a;
}

std::vector<double> scaled(std::vector<double> a, double factor) {
  for (double& x : a) x *= factor;
  return a;
}

std::vector<double> shifted_diagonal(std::vector<double> a, int n) {
  for (int i = 0; i < n; ++i) a[static_cast<std::size_t>(i + i * n)] += i;
  return a;
}

std::vector<double> upper_raised(std::vector<double> a, int n, double by) {
  for (int j = 1; j < n; ++j)
    for (int i = 0; i < j; ++i) a[static_cast<std::size_t>(i + j * n)] += by;
  return a;
}

// examples/A.SCR: order 12, its matrix record as it stands.
std::vector<double> bundled_example() {
  const std::string bytes = read_file(std::string(BLOCKEIG_SOURCE_DIR) + "/examples/A.SCR");
  std::vector<double> a(144);
  constexpr std::size_t matrix_data = 4 + 4 + 4 + 4;  // record 1 (framed), record 2's marker
  for (std::size_t k = 0; k < a.size(); ++k)
    a[k] = io::load_item<double>(bytes.data() + matrix_data + 8 * k, false);
  return a;
}

}  // namespace

const std::vector<EndToEndCase>& end_to_end_cases() {
  static const std::vector<EndToEndCase> cases = [] {
    const double d_up = std::nextafter(1.0e-6, 1.0), d_down = std::nextafter(1.0e-6, 0.0);
    return std::vector<EndToEndCase>{
        {"diagonal_4", 4, diagonal_matrix({4, 3, 2, 1}), 2},
        {"one_two_one_10_in_3", 10, one_two_one_matrix(10), 3},
        {"one_two_one_7_in_2", 7, one_two_one_matrix(7), 2},
        {"one_two_one_10_in_4", 10, one_two_one_matrix(10), 4},
        {"one_two_one_5_in_1", 5, one_two_one_matrix(5), 1},
        {"one_two_one_50", 50, one_two_one_matrix(50), 5},
        {"one_two_one_50_scaled_101_sweeps", 50, scaled(one_two_one_matrix(50), 1e6), 25},
        {"random_9", 9, random_symmetric_matrix(9, 7), 1},
        {"random_8_in_4", 8, random_symmetric_matrix(8, 3), 4},
        {"random_6", 6, random_symmetric_matrix(6, 11), 1},
        {"random_6_upper_raised", 6, upper_raised(random_symmetric_matrix(6, 11), 6, 10.0), 1},
        {"random_3", 3, random_symmetric_matrix(3, 5), 1},
        {"order_2", 2, diagonal_matrix({3, 1}), 1},
        {"order_3", 3, diagonal_matrix({5, -1, 2}), 1},
        {"order_2_mixed", 2, {4.0, 1.0, 1.0, -3.0}, 1},
        {"delta_at_tol", 4, diagonal_matrix({1.0e-6, 5, 0, 6}), 2},
        {"delta_above_tol", 4, diagonal_matrix({d_up, 5, 0, 6}), 2},
        {"delta_below_tol", 4, diagonal_matrix({d_down, 5, 0, 6}), 2},
        {"delta_nan", 4, diagonal_matrix({nan, 5, 0, 6}), 2},
        {"random_40", 40, random_symmetric_matrix(40, 8), 4},
        {"spread_130", 130, shifted_diagonal(random_symmetric_matrix(130, 9), 130), 2},
        {"lopsided_12", 12, upper_raised(random_symmetric_matrix(12, 4), 12, 3.0), 2},
        {"nan_12", 12, set(random_symmetric_matrix(12, 1), 12, 7, 3, nan, true), 3},
        {"minus_inf_12", 12, set(random_symmetric_matrix(12, 2), 12, 4, 4, -inf, true), 2},
        {"subnormal_6", 6, scaled(one_two_one_matrix(6), std::numeric_limits<double>::denorm_min()), 2},
        {"nan_upper_only_6", 6, set(one_two_one_matrix(6), 6, 1, 2, nan, false), 2},
        {"inf_diagonal_6", 6, set(one_two_one_matrix(6), 6, 0, 0, inf, false), 2},
        {"all_nan_6", 6, std::vector<double>(36, nan), 2},
        {"overflowing_6", 6, scaled(one_two_one_matrix(6), 1e308), 2},
        {"nan_60", 60, set(one_two_one_matrix(60), 60, 30, 29, nan, false), 5},
        {"random_60_in_4", 60, random_symmetric_matrix(60, 1), 4},
        {"random_61_in_3", 61, random_symmetric_matrix(61, 2), 3},
        {"random_120_in_8", 120, random_symmetric_matrix(120, 5), 8},
        {"random_60_with_nan", 60, set(random_symmetric_matrix(60, 3), 60, 40, 7, nan, false), 4},
        {"bundled_example", 12, bundled_example(), 3},
    };
  }();
  return cases;
}

}  // namespace blockeig::testing
