#pragma once
// SHA-256 (FIPS 180-4): the identity of an input matrix in the results file
// (and in a checkpoint), so that two runs can be told apart and matched to
// their A.SCR with any SHA-256 tool.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace blockeig {

class Sha256 {
 public:
  Sha256();
  void update(std::span<const std::uint8_t> bytes);
  // The digest of everything passed to update; the object is spent.
  std::array<std::uint8_t, 32> finish();

 private:
  void compress(const std::uint8_t* block);
  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> pending_{};
  std::size_t pending_length_ = 0;
  std::uint64_t total_length_ = 0;
};

// 64 lower-case hexadecimal digits.
std::string hex_digest(const std::array<std::uint8_t, 32>& digest);
// The same digits without allocating.
std::array<char, 64> hex_digits(const std::array<std::uint8_t, 32>& digest);

}  // namespace blockeig
