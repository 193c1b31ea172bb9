#pragma once
// What one fuzz_program input means: an A.SCR (orders up to 8, elements
// from NaN, infinities, subnormals, huge and tiny values and ordinary
// numbers, records sometimes damaged), its byte order, and standard input.
// The scrtool tests read the committed corpus through the same decoding.
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#ifdef BLOCKEIG_FUZZED_DATA_PROVIDER
#include BLOCKEIG_FUZZED_DATA_PROVIDER
#else
#include <fuzzer/FuzzedDataProvider.h>
#endif

#include "io/record_format.hpp"

namespace blockeig::fuzz {

struct ProgramInput {
  std::int32_t n = 0;   // the order record 1 gives
  bool big = false;     // big-endian file, read with BLOCKEIG_CONVERT=big_endian
  int damage = 0;       // 0: well-formed
  std::string file;     // A.SCR
  std::string input;    // standard input
};

inline double fuzzed_element(FuzzedDataProvider& in) {
  static const double palette[] = {
      0.0, -0.0, 1.0, -1.0, 2.0, 0.5, 3.0, -7.25, 1.0e-6, 1.0e12,
      std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
      DBL_MIN, -DBL_MIN, std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
      DBL_MAX, -DBL_MAX, 1.0e300, -1.0e300, 1.0e-300, 1.0e154, 1.0e-154, 99999.9999996, 999.5, 0.09995,
  };
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return palette[in.ConsumeIntegralInRange<std::size_t>(0, sizeof palette / sizeof palette[0] - 1)];
    case 1: {
      const std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
      double x;
      std::memcpy(&x, &bits, sizeof x);
      return x;
    }
    case 2: return static_cast<double>(in.ConsumeIntegralInRange<int>(-20, 20));
    default: return in.ConsumeFloatingPointInRange<double>(-100.0, 100.0);
  }
}

inline std::string stored_u32(std::uint32_t value, bool big) {
  std::string bytes(4, '\0');
  io::store_item(value, big, bytes.data());
  return bytes;
}

inline ProgramInput decode_program_input(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  ProgramInput p;
  const int order_kind = in.ConsumeIntegralInRange<int>(0, 3);
  p.big = in.ConsumeIntegralInRange<int>(0, 3) == 0;
  const bool symmetric = in.ConsumeBool();
  p.n = order_kind == 0 ? in.ConsumeIntegral<std::int32_t>() : in.ConsumeIntegralInRange<std::int32_t>(0, 8);
  p.damage = in.ConsumeIntegralInRange<int>(0, 7);

  p.file = stored_u32(4, p.big) + stored_u32(static_cast<std::uint32_t>(p.n), p.big) + stored_u32(4, p.big);
  const int m = p.n >= 0 && p.n <= 8 ? p.n : in.ConsumeIntegralInRange<int>(0, 8);
  std::vector<double> a(static_cast<std::size_t>(m * m));
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < m; ++i) {
      const std::size_t at = static_cast<std::size_t>(i + j * m);
      a[at] = symmetric && i < j ? a[static_cast<std::size_t>(j + i * m)] : fuzzed_element(in);
    }
  std::string matrix = io::item_bytes<double>(a, p.big);
  std::uint32_t length = static_cast<std::uint32_t>(matrix.size());
  if (p.damage == 1) length = in.ConsumeIntegral<std::uint32_t>();  // any leading marker
  if (p.damage == 2) matrix.resize(in.ConsumeIntegralInRange<std::size_t>(0, matrix.size()));
  p.file += stored_u32(length, p.big) + matrix + stored_u32(length, p.big);
  if (p.damage == 3) p.file.resize(in.ConsumeIntegralInRange<std::size_t>(0, p.file.size()));
  if (p.damage == 4) p.file += in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 12));

  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: p.input = std::to_string(in.ConsumeIntegralInRange<int>(-1, 5)) + "\n"; break;
    case 1: p.input = std::to_string(in.ConsumeIntegralInRange<int>(-1, 5)) + "\n" + in.ConsumeRemainingBytesAsString(); break;
    default: p.input = in.ConsumeRemainingBytesAsString(); break;
  }
  return p;
}

}  // namespace blockeig::fuzz
