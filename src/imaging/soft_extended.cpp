#include <algorithm>
#include <cstdint>
#include <iterator>

#include "imaging/extended.h"

#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
#define TESSARIN_QUADMATH 1
#include <quadmath.h>
#endif

namespace {

// 113-bit arithmetic: libquadmath's type on x86 with GCC, long double
// where it has that precision (ARM64). Clang on x86 (the fuzz build, which
// never uses the software type) takes the x87's own functions.
#if TESSARIN_QUADMATH
constexpr int kQuadDigits = 113;
using Quad = __float128;
Quad QSin(Quad x) {
  return sinq(x);
}
Quad QCos(Quad x) {
  return cosq(x);
}
Quad QTan(Quad x) {
  return tanq(x);
}
Quad QExp(Quad x) {
  return expq(x);
}
Quad QScale(Quad x, int e) {
  return scalbnq(x, e);
}
Quad QFrexp(Quad x, int* e) {
  return frexpq(x, e);
}
#elif LDBL_MANT_DIG == 113 || LDBL_MANT_DIG == 64
constexpr int kQuadDigits = LDBL_MANT_DIG;
using Quad = long double;
Quad QSin(Quad x) {
  return sinl(x);
}
Quad QCos(Quad x) {
  return cosl(x);
}
Quad QTan(Quad x) {
  return tanl(x);
}
Quad QExp(Quad x) {
  return expl(x);
}
Quad QScale(Quad x, int e) {
  return scalbnl(x, e);
}
Quad QFrexp(Quad x, int* e) {
  return frexpl(x, e);
}
#else
#error "no 113-bit type for the extended type's functions"
#endif

Quad ToQuad(SoftExtended x) {
  if (x.IsNaN()) return Quad(__builtin_nan(""));
  const bool neg = x.Negative();
  if (x.IsInf()) return neg ? -Quad(__builtin_inf()) : Quad(__builtin_inf());
  const int biased = x.SignExponent() & 0x7FFF;
  const int e = (biased == 0 ? 1 : biased) - 16383 - 63;
  const Quad v = QScale(Quad(x.Significand()), e);  // exact: 64 bits fit in 113
  return neg ? -v : v;
}

SoftExtended FromQuad(Quad q) {
  if (q != q) return SoftExtended(__builtin_nan(""));
  if (q == 0) return SoftExtended(0.0);
  const bool neg = q < 0;
  if (neg) q = -q;
  if (q > Quad(1) && q * Quad(0.5) == q)
    return neg ? -SoftExtended(__builtin_inf()) : SoftExtended(__builtin_inf());
  int e = 0;
  const Quad f = QFrexp(q, &e);                                             // q = f * 2^e, f in [0.5, 1)
  const auto sig = static_cast<unsigned __int128>(QScale(f, kQuadDigits));  // exact: an integer
  return SoftExtended::Scaled(neg, e - kQuadDigits, sig);
}

struct TrigEntry {
  std::uint16_t argSe;
  std::uint64_t argM;
  std::uint16_t sinSe;
  std::uint64_t sinM;
  std::uint16_t cosSe;
  std::uint64_t cosM;
  std::uint16_t tanSe;
  std::uint64_t tanM;
};

constexpr TrigEntry kTrig[] = {
#include "imaging/soft_trig_table.inc"
};

}  // namespace

bool SoftTrigFromTable(SoftExtended x, SoftExtended& sn, SoftExtended& cs, SoftExtended& tn) {
  const auto less = [](const TrigEntry& e, SoftExtended v) {
    return e.argSe != v.SignExponent() ? e.argSe < v.SignExponent() : e.argM < v.Significand();
  };
  const TrigEntry* it = std::lower_bound(std::begin(kTrig), std::end(kTrig), x, less);
  if (it == std::end(kTrig) || it->argSe != x.SignExponent() || it->argM != x.Significand()) return false;
  sn = SoftExtended::FromBits(it->sinSe, it->sinM);
  cs = SoftExtended::FromBits(it->cosSe, it->cosM);
  tn = SoftExtended::FromBits(it->tanSe, it->tanM);
  return true;
}

SoftExtended SoftSin(SoftExtended x) {
  SoftExtended s, c, t;
  return SoftTrigFromTable(x, s, c, t) ? s : FromQuad(QSin(ToQuad(x)));
}

SoftExtended SoftCos(SoftExtended x) {
  SoftExtended s, c, t;
  return SoftTrigFromTable(x, s, c, t) ? c : FromQuad(QCos(ToQuad(x)));
}

SoftExtended SoftTan(SoftExtended x) {
  SoftExtended s, c, t;
  return SoftTrigFromTable(x, s, c, t) ? t : FromQuad(QTan(ToQuad(x)));
}

SoftExtended SoftExp(SoftExtended x) {
  return FromQuad(QExp(ToQuad(x)));
}
