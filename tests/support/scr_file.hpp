#pragma once
// Bytes of A.SCR files for tests: records framed by little-endian lengths.
#include <cstdint>
#include <string>
#include <vector>

namespace blockeig::testing {

std::string le32(std::int32_t value);
std::string le64(double value);
// One record: length, data, length.
std::string scr_record(const std::string& data);
// The doubles' bytes, in order.
std::string doubles(const std::vector<double>& values);
// A whole A.SCR: the order, then the column-major matrix.
std::string scr_file(std::int32_t n, const std::vector<double>& column_major);

// Column-major test matrices.
std::vector<double> diagonal_matrix(const std::vector<double>& diagonal);
std::vector<double> one_two_one_matrix(int n);
std::vector<double> random_symmetric_matrix(int n, unsigned seed);

}  // namespace blockeig::testing
