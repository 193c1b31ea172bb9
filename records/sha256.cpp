#include "records/sha256.hpp"

#include <algorithm>
#include <cstring>

namespace blockeig {

namespace {

constexpr std::uint32_t round_constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotate_right(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::uint32_t load_big_endian(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

}  // namespace

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::compress(const std::uint8_t* block) {
  std::uint32_t w[64];
  for (int t = 0; t < 16; ++t) w[t] = load_big_endian(block + 4 * t);
  for (int t = 16; t < 64; ++t) {
    const std::uint32_t s0 = rotate_right(w[t - 15], 7) ^ rotate_right(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const std::uint32_t s1 = rotate_right(w[t - 2], 17) ^ rotate_right(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  std::uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
  for (int t = 0; t < 64; ++t) {
    const std::uint32_t t1 = h + (rotate_right(e, 6) ^ rotate_right(e, 11) ^ rotate_right(e, 25)) +
                             ((e & f) ^ (~e & g)) + round_constants[t] + w[t];
    const std::uint32_t t2 = (rotate_right(a, 2) ^ rotate_right(a, 13) ^ rotate_right(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
  }
  state_[0] += a, state_[1] += b, state_[2] += c, state_[3] += d;
  state_[4] += e, state_[5] += f, state_[6] += g, state_[7] += h;
}

void Sha256::update(std::span<const std::uint8_t> bytes) {
  total_length_ += bytes.size();
  if (pending_length_ > 0) {
    const std::size_t n = std::min(bytes.size(), pending_.size() - pending_length_);
    std::memcpy(pending_.data() + pending_length_, bytes.data(), n);
    pending_length_ += n;
    bytes = bytes.subspan(n);
    if (pending_length_ < pending_.size()) return;
    compress(pending_.data());
    pending_length_ = 0;
  }
  for (; bytes.size() >= 64; bytes = bytes.subspan(64)) compress(bytes.data());
  std::memcpy(pending_.data(), bytes.data(), bytes.size());
  pending_length_ = bytes.size();
}

std::array<std::uint8_t, 32> Sha256::finish() {
  const std::uint64_t bits = total_length_ * 8;
  std::uint8_t tail[72] = {0x80};
  // Padding to 56 bytes past a block boundary, then the length in bits.
  const std::size_t padding = (pending_length_ < 56 ? 56 : 120) - pending_length_;
  for (int k = 0; k < 8; ++k) tail[padding + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(bits >> (56 - 8 * k));
  update({tail, padding + 8});
  std::array<std::uint8_t, 32> digest;
  for (int k = 0; k < 8; ++k)
    for (int j = 0; j < 4; ++j) digest[static_cast<std::size_t>(4 * k + j)] = static_cast<std::uint8_t>(state_[static_cast<std::size_t>(k)] >> (24 - 8 * j));
  return digest;
}

std::array<char, 64> hex_digits(const std::array<std::uint8_t, 32>& digest) {
  std::array<char, 64> text;
  for (std::size_t k = 0; k < digest.size(); ++k) {
    text[2 * k] = "0123456789abcdef"[digest[k] >> 4];
    text[2 * k + 1] = "0123456789abcdef"[digest[k] & 15];
  }
  return text;
}

std::string hex_digest(const std::array<std::uint8_t, 32>& digest) {
  const std::array<char, 64> text = hex_digits(digest);
  return std::string(text.data(), text.size());
}

}  // namespace blockeig
