#pragma once
// Bytes of A.SCR files for tests (io/record_format.hpp writes them), and the
// damaged files the fault tests run the program on.
#include <cstdint>
#include <map>
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

// Every damaged A.SCR of the record and run tests, by name; scrtool's
// verdict on each is held to the program's own report.
const std::map<std::string, std::string>& damaged_matrix_files();
const std::string& damaged_matrix_file(const std::string& name);
// Files the program reads in full although they hold more than it takes:
// longer records, records after the matrix.
const std::map<std::string, std::string>& tolerated_matrix_files();

// Column-major test matrices.
std::vector<double> diagonal_matrix(const std::vector<double>& diagonal);
std::vector<double> one_two_one_matrix(int n);
std::vector<double> random_symmetric_matrix(int n, unsigned seed);

}  // namespace blockeig::testing
