// The 80-bit extended type in software: a sign, a 15-bit exponent and a
// 64-bit significand with its integer bit, every operation rounded to
// nearest with ties to even, exactly as the x87 does it at its full
// precision. The toolkit's arithmetic is defined on that type; where the
// compiler's long double is something else (ARM64, where it has a 113-bit
// significand; MSVC and WebAssembly, where it is a double) this class takes
// its place, so that every picture comes out the same to the bit. On x86-64
// it can be chosen too (TESSARIN_SOFT_EXTENDED), to test it where the
// hardware can check it.
//
// Everything is constexpr, so that constants such as pi / 180 are rounded
// at compile time as the hardware would round them. Literals of the
// platform's long double are taken exactly (x86) or rounded once to 64
// bits (ARM64's 113-bit literals; both give the decimal's nearest 64-bit
// value unless it lies within 2^-113 of a tie).
#pragma once

#include <bit>
#include <cfloat>
#include <cstdint>
#include <type_traits>

class SoftExtended {
 public:
  constexpr SoftExtended() = default;
  template <class T>
  requires std::is_integral_v<T>
  constexpr SoftExtended(T v) {  // NOLINT: converts as the hardware would
    if constexpr (std::is_signed_v<T>) {
      const bool neg = v < 0;
      const std::uint64_t mag = neg ? std::uint64_t(0) - std::uint64_t(v) : std::uint64_t(v);
      *this = FromUnsigned(neg, mag);
    } else {
      *this = FromUnsigned(false, std::uint64_t(v));
    }
  }
  constexpr SoftExtended(double v) { *this = FromDouble(v); }           // NOLINT
  constexpr SoftExtended(float v) { *this = FromDouble(double(v)); }    // NOLINT: exact
  constexpr SoftExtended(long double v) { *this = FromLongDouble(v); }  // NOLINT

  // The bits: sign and biased exponent (bias 16383), and the significand.
  static constexpr SoftExtended FromBits(std::uint16_t signExponent, std::uint64_t significand) {
    SoftExtended r;
    r.se_ = signExponent;
    r.m_ = significand;
    return r;
  }
  // sig * 2^exp2, rounded.
  static constexpr SoftExtended Scaled(bool negative, int exp2, unsigned __int128 sig) {
    return Round(negative, exp2 + 127, sig);
  }
  constexpr std::uint16_t SignExponent() const { return se_; }
  constexpr std::uint64_t Significand() const { return m_; }

  explicit constexpr operator double() const { return ToBinary<double, 53, 1023, 2046>(); }
  explicit constexpr operator float() const { return float(ToBinary<double, 24, 127, 254>()); }
  explicit constexpr operator long double() const;
  template <class T>
  requires std::is_integral_v<T>
  explicit constexpr operator T() const {  // truncates, as a cast does
    return T(ToInteger());
  }

  friend constexpr SoftExtended operator+(SoftExtended a, SoftExtended b) { return Add(a, b, false); }
  friend constexpr SoftExtended operator-(SoftExtended a, SoftExtended b) { return Add(a, b, true); }
  friend constexpr SoftExtended operator*(SoftExtended a, SoftExtended b) { return Mul(a, b); }
  friend constexpr SoftExtended operator/(SoftExtended a, SoftExtended b) { return Div(a, b); }
  constexpr SoftExtended operator-() const { return FromBits(se_ ^ 0x8000, m_); }
  constexpr SoftExtended operator+() const { return *this; }
  constexpr SoftExtended& operator+=(SoftExtended b) { return *this = *this + b; }
  constexpr SoftExtended& operator-=(SoftExtended b) { return *this = *this - b; }
  constexpr SoftExtended& operator*=(SoftExtended b) { return *this = *this * b; }
  constexpr SoftExtended& operator/=(SoftExtended b) { return *this = *this / b; }

  friend constexpr bool operator==(SoftExtended a, SoftExtended b) { return Compare(a, b) == 0; }
  friend constexpr bool operator!=(SoftExtended a, SoftExtended b) { return Compare(a, b) != 0; }
  friend constexpr bool operator<(SoftExtended a, SoftExtended b) { return Compare(a, b) == -1; }
  friend constexpr bool operator>(SoftExtended a, SoftExtended b) { return Compare(a, b) == 1; }
  friend constexpr bool operator<=(SoftExtended a, SoftExtended b) {
    const int c = Compare(a, b);
    return c == -1 || c == 0;
  }
  friend constexpr bool operator>=(SoftExtended a, SoftExtended b) {
    const int c = Compare(a, b);
    return c == 1 || c == 0;
  }

  constexpr bool IsNaN() const { return Exponent() == kMaxExponent && (m_ << 1) != 0; }
  constexpr bool IsInf() const { return Exponent() == kMaxExponent && (m_ << 1) == 0; }
  constexpr bool Negative() const { return (se_ & 0x8000) != 0; }

  // Square root, rounded as fsqrt rounds it; the integer part (towards 0)
  // and the smallest integer not below.
  static constexpr SoftExtended Sqrt(SoftExtended x);
  static constexpr SoftExtended Trunc(SoftExtended x);
  static constexpr SoftExtended Ceil(SoftExtended x);

 private:
  using u128 = unsigned __int128;
  static constexpr int kBias = 16383;
  static constexpr int kMaxExponent = 0x7FFF;

  constexpr int Exponent() const { return se_ & 0x7FFF; }
  static constexpr SoftExtended Zero(bool neg) { return FromBits(neg ? 0x8000 : 0, 0); }
  static constexpr SoftExtended Inf(bool neg) {
    return FromBits((neg ? 0x8000 : 0) | kMaxExponent, 1ull << 63);
  }
  static constexpr SoftExtended NaN() { return FromBits(0xFFFF, 0xC000000000000000ull); }

  // The value sig * 2^(exp - 127), rounded to 64 bits (sig's lowest bit
  // stands for everything below it: sticky).
  static constexpr SoftExtended Round(bool neg, int exp, u128 sig) {
    if (sig == 0) return Zero(neg);
    // Normalise so that the leading bit is bit 127. (The arithmetic below
    // takes no branch that depends on the bits of ordinary numbers: those
    // would be mispredicted half the time.)
    const int zeros = Clz128(sig);
    sig <<= zeros;
    exp -= zeros;
    // The biased exponent the leading bit gets; below 1 the number is
    // denormal: shifted right, keeping a sticky bit.
    int biased = exp + kBias;
    if (biased < 1) {
      const int shift = 1 - biased;
      sig = shift >= 128 ? u128(sig != 0) : (sig >> shift) | u128((sig & ((u128(1) << shift) - 1)) != 0);
      biased = 0;
    }
    std::uint64_t m = std::uint64_t(sig >> 64);
    const std::uint64_t rest = std::uint64_t(sig);
    const std::uint64_t half = 1ull << 63;
    const std::uint64_t up = std::uint64_t(rest > half) | (std::uint64_t(rest == half) & m);
    // A carry out of the significand leaves it 2^63 with the exponent one
    // up; a denormal rounded up to 2^63 is the smallest normal.
    const u128 rounded = u128(m) + up;
    const std::uint64_t carry = std::uint64_t(rounded >> 64);
    m = std::uint64_t(rounded) | (carry << 63);
    biased += int(carry | (std::uint64_t(biased == 0) & (m >> 63)));
    if (biased >= kMaxExponent) return Inf(neg);
    return FromBits(std::uint16_t((neg ? 0x8000 : 0) | biased), m);
  }

  static constexpr int Clz128(u128 v) {
    const std::uint64_t hi = std::uint64_t(v >> 64);
    return hi != 0 ? std::countl_zero(hi) : 64 + std::countl_zero(std::uint64_t(v));
  }

  // The value as sig * 2^(exp - 63), sig the 64-bit significand (a denormal's
  // exponent is that of the smallest normal).
  constexpr int UnbiasedExponent() const { return (Exponent() == 0 ? 1 : Exponent()) - kBias; }

  static constexpr SoftExtended FromUnsigned(bool neg, std::uint64_t mag) {
    return Round(neg, 127 - 64, u128(mag) << 64);
  }

  static constexpr SoftExtended FromDouble(double v) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    const bool neg = bits >> 63;
    const int e = int((bits >> 52) & 0x7FF);
    const std::uint64_t f = bits & ((1ull << 52) - 1);
    if (e == 0x7FF) return f == 0 ? Inf(neg) : NaN();
    if (e == 0) {
      if (f == 0) return Zero(neg);
      return Round(neg, -1074 + 63, u128(f) << 64);  // a denormal double: f * 2^-1074
    }
    return Round(neg, e - 1075 + 63, u128(f | (1ull << 52)) << 64);  // (2^52 + f) * 2^(e - 1075)
  }

  static constexpr SoftExtended FromLongDouble(long double v);
  static constexpr SoftExtended FromLongDoubleValue(long double v);

  template <class T, int kDigits, int kTBias, int kTMaxBiased>
  constexpr T ToBinary() const;
  constexpr __int128 ToInteger() const;

  static constexpr int Compare(SoftExtended a, SoftExtended b) {  // -1, 0, 1, or 2 when unordered
    if (a.IsNaN() || b.IsNaN()) return 2;
    const bool az = a.m_ == 0, bz = b.m_ == 0;
    if (az && bz) return 0;
    const bool na = !az && a.Negative(), nb = !bz && b.Negative();
    if (az || bz || na != nb) {
      // A zero against a number, or numbers of two signs.
      const int sa = az ? 0 : na ? -1 : 1, sb = bz ? 0 : nb ? -1 : 1;
      return sa < sb ? -1 : 1;
    }
    // The magnitudes: the exponent of the leading bit, then the bits.
    const int za = std::countl_zero(a.m_), zb = std::countl_zero(b.m_);
    const int ea = a.UnbiasedExponent() - za, eb = b.UnbiasedExponent() - zb;
    const std::uint64_t ma = a.m_ << za, mb = b.m_ << zb;
    const int c = ea != eb ? (ea < eb ? -1 : 1) : ma == mb ? 0 : ma < mb ? -1 : 1;
    return na ? -c : c;
  }

  static constexpr SoftExtended Add(SoftExtended a, SoftExtended b, bool subtract) {
    if (subtract) b = -b;
    if (a.IsNaN() || b.IsNaN()) return NaN();
    if (a.IsInf() || b.IsInf()) {
      if (a.IsInf() && b.IsInf() && a.Negative() != b.Negative()) return NaN();
      return a.IsInf() ? a : b;
    }
    if (a.m_ == 0 && b.m_ == 0) return Zero(a.Negative() && b.Negative());
    if (a.m_ == 0) return b;
    if (b.m_ == 0) return a;
    // The larger magnitude first, chosen without a branch.
    const int ea0 = a.UnbiasedExponent(), eb0 = b.UnbiasedExponent();
    const bool swap = ea0 < eb0 || (ea0 == eb0 && a.m_ < b.m_);
    const std::uint64_t pick = std::uint64_t(0) - std::uint64_t(swap);
    const std::uint64_t ma = (a.m_ & ~pick) | (b.m_ & pick), mb = (b.m_ & ~pick) | (a.m_ & pick);
    const int ea = swap ? eb0 : ea0, eb = swap ? ea0 : eb0;
    const bool na = swap ? b.Negative() : a.Negative();
    u128 sa = u128(ma) << 63, sb = u128(mb) << 63;  // one spare bit on top for the carry
    const int shift = ea - eb;
    if (shift >= 127) {
      sb = u128(sb != 0);
    } else {  // (a shift of 0 keeps everything)
      sb = (sb >> shift) | u128((sb & ((u128(1) << shift) - 1)) != 0);
    }
    // sa + sb, or sa - sb for two signs: sb negated by its mask.
    const u128 negate = u128(0) - u128(a.Negative() != b.Negative());
    const u128 sum = sa + ((sb ^ negate) - negate);
    if (sum == 0) return Zero(false);  // exact cancellation gives +0 when rounding to nearest
    // sa's leading bit stands at 126 for 2^ea.
    return Round(na, ea + 1, sum);
  }

  static constexpr SoftExtended Mul(SoftExtended a, SoftExtended b) {
    const bool neg = a.Negative() != b.Negative();
    if (a.IsNaN() || b.IsNaN()) return NaN();
    if (a.IsInf() || b.IsInf()) return (a.m_ == 0 || b.m_ == 0) ? NaN() : Inf(neg);
    if (a.m_ == 0 || b.m_ == 0) return Zero(neg);
    const u128 p = u128(a.m_) * b.m_;  // (a.m_ * 2^(ea-63)) * (b.m_ * 2^(eb-63))
    return Round(neg, a.UnbiasedExponent() + b.UnbiasedExponent() + 1, p);
  }

  static constexpr SoftExtended Div(SoftExtended a, SoftExtended b) {
    const bool neg = a.Negative() != b.Negative();
    if (a.IsNaN() || b.IsNaN()) return NaN();
    if (a.IsInf()) return b.IsInf() ? NaN() : Inf(neg);
    if (b.IsInf()) return Zero(neg);
    if (b.m_ == 0) return a.m_ == 0 ? NaN() : Inf(neg);
    if (a.m_ == 0) return Zero(neg);
    // Normalised significands (denormals shifted up), then a 128-bit
    // quotient: 64 bits, 64 more from the remainder, and a sticky bit.
    int ea = a.UnbiasedExponent(), eb = b.UnbiasedExponent();
    std::uint64_t ma = a.m_, mb = b.m_;
    const int za = std::countl_zero(ma), zb = std::countl_zero(mb);
    ma <<= za, ea -= za;
    mb <<= zb, eb -= zb;
    int exp = ea - eb;
    u128 num;
    if (ma >= mb) {
      num = u128(ma) << 63;
    } else {
      num = u128(ma) << 64;
      exp -= 1;
    }
    const u128 q1 = num / mb, r1 = num % mb;
    const u128 num2 = r1 << 64;
    const u128 q2 = num2 / mb, r2 = num2 % mb;
    // q1 in [2^63, 2^64) stands for 2^exp.
    return Round(neg, exp, (q1 << 64) | q2 | u128(r2 != 0));
  }

  std::uint64_t m_ = 0;   // the significand, its integer bit on top
  std::uint16_t se_ = 0;  // the sign (top bit) and the biased exponent
};

constexpr SoftExtended SoftExtended::FromLongDoubleValue(long double v) {
  // The value rounded to 64 bits, taken apart arithmetically (every step is
  // exact): the significand as two integers, the upper 64 bits and the
  // rest (nothing for the x87's own type).
  if (v != v) return NaN();
  const bool neg = v < 0 || (v == 0 && 1 / v < 0);
  if (neg) v = -v;
  if (v == 0) return Zero(neg);
  if (v > LDBL_MAX) return Inf(neg);
  int e = 0;
  while (v >= 2) v /= 2, ++e;
  while (v < 1) v *= 2, --e;
  for (int i = 0; i < 63; ++i) v *= 2;
  const std::uint64_t hi = std::uint64_t(v);
  long double rest = v - (long double)hi;  // in [0, 1)
  for (int i = 0; i < 64; ++i) rest *= 2;
  const std::uint64_t lo = std::uint64_t(rest);
  const bool sticky = rest - (long double)lo != 0;
  return Round(neg, e, (u128(hi) << 64) | lo | u128(sticky));
}

constexpr SoftExtended SoftExtended::FromLongDouble(long double v) {
#if LDBL_MANT_DIG == 64
  // The platform's own extended type: the same bits (the padding dropped),
  // except in a constant, which cannot be bit-cast with its padding.
  if (!std::is_constant_evaluated()) {
    struct {
      std::uint64_t m;
      std::uint16_t se;
      std::uint16_t pad[3];
    } b{};
    __builtin_memcpy(&b, &v, 10);
    return FromBits(b.se, b.m);
  }
#elif LDBL_MANT_DIG != 113 && LDBL_MANT_DIG != 53
#error "unknown long double"
#endif
  return FromLongDoubleValue(v);
}

constexpr SoftExtended::operator long double() const {
#if LDBL_MANT_DIG == 64
  if (!std::is_constant_evaluated()) {
    long double out = 0;
    struct {
      std::uint64_t m;
      std::uint16_t se;
    } b{m_, se_};
    __builtin_memcpy(&out, &b, 10);
    return out;
  }
#endif
  if (IsNaN()) return (long double)__builtin_nan("");
  if (IsInf()) return Negative() ? -(long double)__builtin_inf() : (long double)__builtin_inf();
  long double r = (long double)m_;  // exact where long double has 64 bits or more
  int e = UnbiasedExponent() - 63;
  for (; e > 0; --e) r *= 2;
  for (; e < 0; ++e) r /= 2;
  return Negative() ? -r : r;
}

template <class T, int kDigits, int kTBias, int kTMaxBiased>
constexpr T SoftExtended::ToBinary() const {
  // Rounds to kDigits significant bits with the target's exponent range,
  // then builds the double holding exactly that value.
  if (IsNaN()) return T(__builtin_nan(""));
  if (IsInf() || m_ == 0) {
    const double base = IsInf() ? __builtin_inf() : 0.0;
    return T(Negative() ? -base : base);
  }
  const int lz = std::countl_zero(m_);
  std::uint64_t m = m_ << lz;
  int exp = UnbiasedExponent() - lz;  // value = m * 2^(exp - 63)
  int keep = kDigits;
  if (exp < 1 - kTBias) keep -= (1 - kTBias) - exp;  // denormal in the target
  if (keep < 0) return T(Negative() ? -0.0 : 0.0);
  // keep is 0 for a value below the smallest denormal: it rounds to that
  // denormal or to 0.
  std::uint64_t kept = keep == 0 ? 0 : m >> (64 - keep);
  const std::uint64_t rest = m << keep, half = 1ull << 63;
  if (rest > half || (rest == half && (kept & 1))) {
    ++kept;
    if (keep > 0 && kept >> keep) {  // carried into a new bit
      kept >>= 1;
      ++exp;
    }
  }
  if (exp > kTMaxBiased - kTBias) return T(Negative() ? -__builtin_inf() : __builtin_inf());
  // kept * 2^(exp - (keep - 1)) as a double: exact.
  double r = double(kept);
  int scale = exp - (keep - 1);
  for (; scale > 0; --scale) r *= 2;
  for (; scale < 0; ++scale) r /= 2;
  return T(Negative() ? -r : r);
}

constexpr __int128 SoftExtended::ToInteger() const {
  if (IsNaN() || IsInf() || m_ == 0) return 0;
  const int e = UnbiasedExponent();
  if (e < 0 || e > 126) return 0;  // callers keep to the target's range
  const unsigned __int128 mag = e >= 63 ? (unsigned __int128)m_ << (e - 63) : m_ >> (63 - e);
  return Negative() ? -(__int128)mag : (__int128)mag;
}

constexpr SoftExtended SoftExtended::Trunc(SoftExtended x) {
  if (x.IsNaN() || x.IsInf() || x.m_ == 0) return x;
  const int e = x.UnbiasedExponent();
  if (e >= 63) return x;
  if (e < 0) return Zero(x.Negative());
  return FromBits(x.se_, x.m_ & ~((1ull << (63 - e)) - 1));
}

constexpr SoftExtended SoftExtended::Ceil(SoftExtended x) {
  const SoftExtended t = Trunc(x);
  if (t == x || x.Negative()) return t;  // Trunc keeps the sign of -0.5's -0
  return t + 1;
}

constexpr SoftExtended SoftExtended::Sqrt(SoftExtended x) {
  if (x.IsNaN() || x.m_ == 0) return x;
  if (x.Negative()) return NaN();
  if (x.IsInf()) return x;
  std::uint64_t m = x.m_;
  int e = x.UnbiasedExponent();
  const int lz = std::countl_zero(m);
  m <<= lz, e -= lz;  // x = m * 2^(e - 63), m normalised
  // x = n * 2^p with p even and n in [2^126, 2^128); then sqrt(x) =
  // sqrt(n) * 2^(p / 2), sqrt(n) in [2^63, 2^64).
  const int q = e - 63;
  const bool even = (q & 1) == 0;
  const u128 n = even ? u128(m) << 64 : u128(m) << 63;
  const int p = even ? q - 64 : q - 63;
  // The integer square root of n, two bits at a time.
  u128 root = 0, rem = 0, v = n;
  for (int i = 0; i < 64; ++i) {
    rem = (rem << 2) | (v >> 126);
    v <<= 2;
    root <<= 1;
    const u128 trial = (root << 1) | 1;
    if (rem >= trial) {
      rem -= trial;
      root |= 1;
    }
  }
  // rem = n - root^2; the exact root lies above root + 1/2 (it never lies
  // on it) when rem > root.
  if (rem > root) ++root;
  // root * 2^(p / 2), as sig * 2^(X - 127) with sig = root << 63.
  return Round(false, p / 2 + 64, root << 63);
}
