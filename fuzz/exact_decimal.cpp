#include "exact_decimal.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace blockeig::fuzz {
namespace {

// Unsigned big integer, 32-bit limbs, least significant first, no leading
// zero limbs.
class Big {
 public:
  Big() = default;
  explicit Big(std::uint64_t v) {
    while (v != 0) {
      limbs_.push_back(static_cast<std::uint32_t>(v));
      v >>= 32;
    }
  }
  static Big pow10(int k) {
    Big b(1);
    for (int i = 0; i < k; ++i) b.mul_small(10);
    return b;
  }

  bool zero() const { return limbs_.empty(); }
  std::size_t bits() const {
    if (limbs_.empty()) return 0;
    std::size_t n = (limbs_.size() - 1) * 32;
    for (std::uint32_t top = limbs_.back(); top != 0; top >>= 1) ++n;
    return n;
  }
  bool bit(std::size_t i) const {
    const std::size_t limb = i / 32;
    return limb < limbs_.size() && ((limbs_[limb] >> (i % 32)) & 1u);
  }

  Big& mul_small(std::uint32_t m) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : limbs_) {
      const std::uint64_t t = std::uint64_t{limb} * m + carry;
      limb = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
    trim();
    return *this;
  }
  Big& add_small(std::uint32_t a) {
    std::uint64_t carry = a;
    for (std::size_t i = 0; carry != 0; ++i) {
      if (i == limbs_.size()) limbs_.push_back(0);
      const std::uint64_t t = std::uint64_t{limbs_[i]} + carry;
      limbs_[i] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    return *this;
  }
  Big& shl(std::size_t n) {
    if (zero()) return *this;
    const std::size_t whole = n / 32, part = n % 32;
    std::vector<std::uint32_t> out(limbs_.size() + whole + 1, 0);
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      const std::uint64_t v = std::uint64_t{limbs_[i]} << part;
      out[i + whole] |= static_cast<std::uint32_t>(v);
      out[i + whole + 1] |= static_cast<std::uint32_t>(v >> 32);
    }
    limbs_ = std::move(out);
    trim();
    return *this;
  }
  Big& mul(const Big& o) {
    std::vector<std::uint32_t> out(limbs_.size() + o.limbs_.size() + 1, 0);
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      std::uint64_t carry = 0;
      for (std::size_t j = 0; j < o.limbs_.size(); ++j) {
        const std::uint64_t t = std::uint64_t{limbs_[i]} * o.limbs_[j] + out[i + j] + carry;
        out[i + j] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
      }
      for (std::size_t k = i + o.limbs_.size(); carry != 0; ++k) {
        const std::uint64_t t = std::uint64_t{out[k]} + carry;
        out[k] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
      }
    }
    limbs_ = std::move(out);
    trim();
    return *this;
  }
  // this -= o; requires this >= o.
  Big& sub(const Big& o) {
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      std::int64_t t = std::int64_t{limbs_[i]} - borrow - (i < o.limbs_.size() ? std::int64_t{o.limbs_[i]} : 0);
      borrow = t < 0;
      if (t < 0) t += std::int64_t{1} << 32;
      limbs_[i] = static_cast<std::uint32_t>(t);
    }
    trim();
    return *this;
  }
  friend int compare(const Big& a, const Big& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    for (std::size_t i = a.limbs_.size(); i-- > 0;)
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    return 0;
  }
  // Quotient of this / d by shift and subtract; this becomes the remainder.
  Big divide(const Big& d) {
    Big q;
    if (compare(*this, d) < 0) return q;
    const std::size_t shift = bits() - d.bits();
    Big t = d;
    t.shl(shift);
    q.limbs_.assign(shift / 32 + 1, 0);
    for (std::size_t s = shift + 1; s-- > 0;) {
      if (compare(*this, t) >= 0) {
        sub(t);
        q.limbs_[s / 32] |= 1u << (s % 32);
      }
      t.shr1();
    }
    q.trim();
    return q;
  }
  Big& shr1() {
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      limbs_[i] >>= 1;
      if (i + 1 < limbs_.size()) limbs_[i] |= limbs_[i + 1] << 31;
    }
    trim();
    return *this;
  }
  // Decimal digits, "0" for zero.
  std::string decimal() const {
    if (zero()) return "0";
    Big v = *this;
    std::string out;
    while (!v.zero()) {
      std::uint64_t rem = 0;
      for (std::size_t i = v.limbs_.size(); i-- > 0;) {
        const std::uint64_t cur = (rem << 32) | v.limbs_[i];
        v.limbs_[i] = static_cast<std::uint32_t>(cur / 10);
        rem = cur % 10;
      }
      v.trim();
      out.push_back(static_cast<char>('0' + rem));
    }
    std::reverse(out.begin(), out.end());
    return out;
  }

 private:
  void trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }
  std::vector<std::uint32_t> limbs_;
};

// |x| = significand * 2^exponent, from the bits.
struct Parts {
  std::uint64_t significand;
  int exponent;
};

Parts parts(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0) return {fraction, -1074};
  return {fraction | (std::uint64_t{1} << 52), biased - 1075};
}

bool sign_bit(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits >> 63;
}

// |x| * 10^p as the fraction num / den.
void scaled(double x, int p, Big& num, Big& den) {
  const Parts q = parts(x);
  num = Big(q.significand);
  den = Big(1);
  if (q.exponent >= 0) num.shl(static_cast<std::size_t>(q.exponent));
  else den.shl(static_cast<std::size_t>(-q.exponent));
  if (p >= 0) num.mul(Big::pow10(p));
  else den.mul(Big::pow10(-p));
}

// |x| * 10^p rounded to an integer, ties to even.
Big rounded(double x, int p) {
  Big num, den;
  scaled(x, p, num, den);
  Big q = num.divide(den);  // num is now the remainder r
  num.shl(1);
  const int c = compare(num, den);
  if (c > 0 || (c == 0 && q.bit(0))) q.add_small(1);
  return q;
}

// Compares |x| * 2 * 10^a with c * 10^b (c small, a and b any sign).
int compare_scaled(double x, int a, std::uint64_t c_num, int b) {
  Big num, den;
  scaled(x, a - b, num, den);  // |x| * 10^(a-b) = num / den
  num.shl(1);
  Big rhs(c_num);
  rhs.mul(den);
  return compare(num, rhs);
}

std::string stars(int w) { return std::string(static_cast<std::size_t>(w), '*'); }

std::string justify(const std::string& text, int w) {
  if (static_cast<int>(text.size()) > w) return stars(w);
  return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
}

// "[-]0.ddd" or "[-]ddd.ddd": one character too long with a lone leading "0"
// loses it.
std::string justify_number(const std::string& text, int w) {
  const std::size_t sign = text[0] == '-' ? 1 : 0;
  if (static_cast<int>(text.size()) == w + 1 && text.size() >= sign + 2 && text[sign] == '0' && text[sign + 1] == '.')
    return text.substr(0, sign) + text.substr(sign + 1);
  return justify(text, w);
}

std::string special(double x) {
  if (x != x) return "NaN";
  return sign_bit(x) ? "-Inf" : "+Inf";
}

// k with 10^(k-1) <= |x| < 10^k, for finite nonzero x.
int decimal_exponent(double x) {
  int k = static_cast<int>(std::floor(std::log10(std::fabs(x)))) + 1;
  while (compare_scaled(x, 0, 2, k) >= 0) ++k;     // |x| >= 10^k
  while (compare_scaled(x, 0, 2, k - 1) < 0) --k;  // |x| < 10^(k-1)
  return k;
}

std::string exponent_form(double x, int w, int d, int e) {
  int k = decimal_exponent(x);
  Big digits = rounded(x, d - k);
  if (compare(digits, Big::pow10(d)) == 0) {
    digits = Big::pow10(d - 1);
    ++k;
  }
  std::string text = sign_bit(x) ? "-0." : "0.";
  text += digits.decimal();
  const int magnitude = k < 0 ? -k : k;
  const std::string exp_digits = std::to_string(magnitude);
  if (e < 0) {
    const int width = magnitude <= 99 ? 2 : magnitude <= 999 ? 3 : 4;
    if (magnitude <= 99) text += 'E';
    text += k < 0 ? '-' : '+';
    text += std::string(static_cast<std::size_t>(width) - exp_digits.size(), '0') + exp_digits;
  } else {
    if (static_cast<int>(exp_digits.size()) > e) return stars(w);
    text += 'E';
    text += k < 0 ? '-' : '+';
    text += std::string(static_cast<std::size_t>(e) - exp_digits.size(), '0') + exp_digits;
  }
  return justify_number(text, w);
}

std::string fixed_form_in_g(double x, int w, int n, int places) {
  if (w <= n) return stars(w);
  return reference_fixed(x, w - n, places) + std::string(static_cast<std::size_t>(n), ' ');
}

}  // namespace

std::string reference_fixed(double x, int w, int d) {
  if (!(x - x == 0)) return justify(special(x), w);
  std::string digits = rounded(x, d).decimal();
  if (static_cast<int>(digits.size()) < d + 1) digits.insert(0, static_cast<std::size_t>(d + 1) - digits.size(), '0');
  const std::size_t integer = digits.size() - static_cast<std::size_t>(d);
  std::string text = sign_bit(x) ? "-" : "";
  text += digits.substr(0, integer) + "." + digits.substr(integer);
  return justify_number(text, w);
}

std::string reference_general(double x, int w, int d, int e) {
  const int n = e < 0 ? 4 : e + 2;
  if (x != x) return justify("NaN", w);
  const Parts p = parts(x);
  const bool infinite = !(x - x == 0);
  if (infinite || (p.significand == 0)) return fixed_form_in_g(x, w, n, d - 1);
  if (p.exponent == -1074 && p.significand < (std::uint64_t{1} << 52)) return exponent_form(x, w, d, e);
  // b(k) = 10^(k-1) * (2 * 10^d - 1) / (2 * 10^d); |x| < b(k) compares
  // |x| * 2 * 10^d with (2 * 10^d - 1) * 10^(k-1).
  if (d <= 17) {
    std::uint64_t ten_d = 1;
    for (int i = 0; i < d; ++i) ten_d *= 10;
    const std::uint64_t c = 2 * ten_d - 1;
    for (int k = 0; k <= d + 1; ++k) {
      if (compare_scaled(x, d, c, k - 1) < 0) {
        if (k == 0) break;  // below b(0)
        return fixed_form_in_g(x, w, n, d + 1 - k);
      }
    }
    return exponent_form(x, w, d, e);
  }
  // Many digits: the boundary constant no longer fits 64 bits. With
  // 10^(k0-1) <= |x| < 10^k0, b(k0) lies below |x|, so j is k0 + 1 when
  // |x| < b(k0 + 1) and k0 + 2 otherwise.
  const int k0 = decimal_exponent(x);
  Big c = Big::pow10(d);
  c.shl(1);
  c.sub(Big(1));
  Big num, den;
  scaled(x, d - k0, num, den);  // |x| * 10^d / 10^k0
  num.shl(1);
  c.mul(den);
  const int j = compare(num, c) < 0 ? k0 + 1 : k0 + 2;
  if (j >= 1 && j <= d + 1) return fixed_form_in_g(x, w, n, d + 1 - j);
  return exponent_form(x, w, d, e);
}

std::string reference_integer(std::int32_t v, int w, int m) {
  const std::int64_t wide = v;
  std::string digits = std::to_string(wide < 0 ? -wide : wide);
  if (m >= 0) {
    if (wide == 0) digits.clear();
    if (static_cast<int>(digits.size()) < m) digits.insert(0, static_cast<std::size_t>(m) - digits.size(), '0');
  }
  const std::string text = (wide < 0 ? "-" : "") + digits;
  const int width = w != 0 ? w : std::max<int>(static_cast<int>(text.size()), 1);
  return justify(text, width);
}

}  // namespace blockeig::fuzz
