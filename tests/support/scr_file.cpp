#include "support/scr_file.hpp"

#include <cstring>
#include <random>

namespace blockeig::testing {

std::string le32(std::int32_t value) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

std::string le64(double value) {
  std::string bytes(8, '\0');
  std::memcpy(bytes.data(), &value, 8);
  return bytes;
}

std::string scr_record(const std::string& data) {
  const std::string length = le32(static_cast<std::int32_t>(data.size()));
  return length + data + length;
}

std::string doubles(const std::vector<double>& values) {
  std::string bytes;
  for (double v : values) bytes += le64(v);
  return bytes;
}

std::string scr_file(std::int32_t n, const std::vector<double>& column_major) {
  return scr_record(le32(n)) + scr_record(doubles(column_major));
}

std::vector<double> diagonal_matrix(const std::vector<double>& diagonal) {
  const std::size_t n = diagonal.size();
  std::vector<double> a(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) a[i + i * n] = diagonal[i];
  return a;
}

std::vector<double> one_two_one_matrix(int n) {
  const std::size_t size = static_cast<std::size_t>(n);
  std::vector<double> a(size * size, 0.0);
  for (std::size_t i = 0; i < size; ++i) {
    a[i + i * size] = 2.0;
    if (i > 0) a[i + (i - 1) * size] = a[(i - 1) + i * size] = -1.0;
  }
  return a;
}

std::vector<double> random_symmetric_matrix(int n, unsigned seed) {
  const std::size_t size = static_cast<std::size_t>(n);
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> a(size * size);
  for (std::size_t j = 0; j < size; ++j)
    for (std::size_t i = j; i < size; ++i) a[i + j * size] = a[j + i * size] = uniform(random);
  return a;
}

}  // namespace blockeig::testing
