// The software extended type against the x87 unit on arbitrary bytes.
//
// The input is a little program on a stack of values held twice, as SoftExt
// and as the unit's long double. Each byte is an instruction: push a double
// (the next 8 bytes) or a raw 80-bit value (the next 10 bytes), push a small
// integer, one of + - * /, sqrt, negation, absolute value, a store to double
// and back, a comparison (its six results), duplicate, swap. After every
// instruction both stacks must hold the same bits.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "arithmetic/extended_software.hpp"
#include "support/x87_unit.hpp"

namespace {

using blockeig::SoftExt;
using x87 = blockeig::x87_unit;

struct Value {
  SoftExt soft;
  x87 hard;
};

std::uint64_t significand(x87 x) {
  std::uint64_t m = 0;
  std::memcpy(&m, &x, 8);
  return m;
}
std::uint16_t sign_exponent(x87 x) {
  std::uint16_t se = 0;
  std::memcpy(&se, reinterpret_cast<const char*>(&x) + 8, 2);
  return se;
}

[[noreturn]] void finding(const char* what, const Value& v) {
  std::fprintf(stderr, "%s: software %04x:%016llx, x87 %04x:%016llx\n", what, v.soft.sign_exponent(),
               static_cast<unsigned long long>(v.soft.significand()), sign_exponent(v.hard),
               static_cast<unsigned long long>(significand(v.hard)));
  std::abort();
}

void check(const char* what, const Value& v) {
  if (v.soft.significand() != significand(v.hard) || v.soft.sign_exponent() != sign_exponent(v.hard))
    finding(what, v);
}

// The unit's operations, out of the compiler's reach.
__attribute__((noinline)) x87 hard(char op, x87 a, x87 b) {
  switch (op) {
    case '+': return a + b;
    case '-': return a - b;
    case '*': return a * b;
    default: return a / b;
  }
}
__attribute__((noinline)) x87 hard_sqrt(x87 a) { return blockeig::x87_unit_sqrt(a); }

SoftExt soft(char op, SoftExt a, SoftExt b) {
  switch (op) {
    case '+': return a + b;
    case '-': return a - b;
    case '*': return a * b;
    default: return a / b;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<Value> stack;
  const auto push = [&stack](const Value& v) {
    check("push", v);
    if (stack.size() < 16) stack.push_back(v);
  };
  while (in.remaining_bytes() > 0) {
    const auto code = in.ConsumeIntegral<std::uint8_t>();
    if (code < 64) {
      const auto d = std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
      push({SoftExt(d), static_cast<x87>(d)});
      continue;
    }
    if (code < 96) {
      const auto m = in.ConsumeIntegral<std::uint64_t>();
      const auto se = in.ConsumeIntegral<std::uint16_t>();
      x87 h = 0;
      std::memcpy(&h, &m, 8);
      std::memcpy(reinterpret_cast<char*>(&h) + 8, &se, 2);
      push({SoftExt::from_bits(se, m), h});
      continue;
    }
    if (code < 104) {
      const std::int64_t n = static_cast<std::int8_t>(in.ConsumeIntegral<std::uint8_t>());
      push({SoftExt(n), static_cast<x87>(n)});
      continue;
    }
    if (stack.empty()) continue;
    Value& top = stack.back();
    switch ((code - 104) % 12) {
      case 0: case 1: case 2: case 3: {
        if (stack.size() < 2) break;
        const char op = "+-*/"[(code - 104) % 12];
        const Value b = stack.back();
        stack.pop_back();
        Value& a = stack.back();
        a = {soft(op, a.soft, b.soft), hard(op, a.hard, b.hard)};
        check("binary operation", a);
        break;
      }
      case 4: top = {sqrt(top.soft), hard_sqrt(top.hard)}; check("sqrt", top); break;
      case 5: top = {-top.soft, -top.hard}; check("negation", top); break;
      case 6: top = {fabs(top.soft), __builtin_fabsl(top.hard)}; check("fabs", top); break;
      case 7: {
        const auto s = static_cast<double>(top.soft), h = static_cast<double>(top.hard);
        if (std::bit_cast<std::uint64_t>(s) != std::bit_cast<std::uint64_t>(h)) finding("to double", top);
        top = {SoftExt(s), static_cast<x87>(h)};
        break;
      }
      case 8: {
        if (stack.size() < 2) break;
        const Value& a = stack[stack.size() - 2];
        const volatile x87 h = a.hard, k = top.hard;
        const int s = (a.soft < top.soft) | (a.soft <= top.soft) << 1 | (a.soft > top.soft) << 2 |
                      (a.soft >= top.soft) << 3 | (a.soft == top.soft) << 4 | (a.soft != top.soft) << 5;
        const int w = (h < k) | (h <= k) << 1 | (h > k) << 2 | (h >= k) << 3 | (h == k) << 4 | (h != k) << 5;
        if (s != w) finding("comparison", top);
        break;
      }
      case 9: {
        const Value copy = top;
        push(copy);
        break;
      }
      case 10:
        if (stack.size() >= 2) std::swap(stack.back(), stack[stack.size() - 2]);
        break;
      default: stack.pop_back(); break;
    }
  }
  return 0;
}
