#include "support/scr_file.hpp"

#include <random>

#include "io/record_format.hpp"

namespace blockeig::testing {

std::string le32(std::int32_t value) {
  const std::int32_t values[] = {value};
  return io::item_bytes<std::int32_t>(values);
}

std::string le64(double value) {
  const double values[] = {value};
  return io::item_bytes<double>(values);
}

std::string scr_record(const std::string& data) { return io::record_bytes(data); }

std::string doubles(const std::vector<double>& values) { return io::item_bytes<double>(values); }

std::string scr_file(std::int32_t n, const std::vector<double>& column_major) {
  return io::matrix_file_bytes(n, column_major);
}

const std::map<std::string, std::string>& damaged_matrix_files() {
  static const std::map<std::string, std::string> files = {
      {"empty file", ""},
      {"record 1 only", scr_record(le32(2))},
      {"no record left for an array of no elements", scr_record(le32(0))},
      {"record 1 too short", scr_record("ab")},
      {"record 2 too short", scr_record(le32(2)) + scr_record(doubles({1}))},
      {"record 2 three doubles short", scr_record(le32(3)) + scr_record(doubles({1, 2}))},
      {"record 2 one double short", scr_record(le32(2)) + scr_record(doubles({1, 2, 3}))},
      {"record 2 short of the matrix by part of an element",
       scr_record(le32(2)) + scr_record(doubles({1, 2, 3, 4}).substr(0, 29))},
      {"stray bytes where a marker belongs", scr_record(le32(2)) + "\x01\x02"},
      {"file ends inside the data", scr_record(le32(2)) + le32(32) + le64(1)},
      {"file ends inside the trailing marker", scr_record(le32(1)) + le32(8) + le64(1) + "\x08"},
      {"marker above the record length limit", le32(1'000'000'001) + le32(2)},
      {"negative marker", le32(-8) + le32(2) + le32(-8)},
      {"marker of exactly the limit on a short file", le32(1'000'000'000) + le32(2)},
      {"matrix marker near the limit on a short file", scr_record(le32(2)) + le32(999'999'999) + le64(1)},
      {"matrix marker at the limit on a short file", scr_record(le32(2)) + le32(1'000'000'000) + doubles({1, 2, 3, 4})},
      // The head of a file whose record 2 announces 8*11181*11181 bytes.
      {"matrix marker above the limit", scr_record(le32(11'181)) + le32(1'000'118'088)},
      {"order 1", scr_file(1, {5.0})},
      {"order -3", scr_record(le32(-3))},
      {"order 23171", scr_record(le32(23'171))},
  };
  return files;
}

const std::string& damaged_matrix_file(const std::string& name) { return damaged_matrix_files().at(name); }

const std::map<std::string, std::string>& tolerated_matrix_files() {
  static const std::vector<double> a = random_symmetric_matrix(3, 5);
  static const std::map<std::string, std::string> files = {
      {"record 1 longer than the order", scr_record(le32(3) + le32(77)) + scr_record(doubles(a))},
      {"record 2 longer than the matrix", scr_record(le32(3)) + scr_record(doubles(a) + doubles({9, 9}))},
      {"a record and stray bytes after the matrix", scr_file(3, a) + scr_record(doubles({1})) + "xy"},
      {"unequal markers", le32(4) + le32(2) + le32(9) + scr_record(doubles({1, 2, 2, 1}))},
  };
  return files;
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
