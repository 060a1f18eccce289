// The software extended type against the x87 (where the build has one):
// every operation on random and awkward operands gives the hardware's
// bits, and its functions the C library's. Everywhere: the constants the
// program writes as literals round to the x87's values.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/settings.h"
#include "imaging/pixel_access.h"

namespace {

struct Bits {
  std::uint16_t se;
  std::uint64_t m;
  bool operator==(const Bits&) const = default;
};

Bits Of(SoftExtended v) {
  return {v.SignExponent(), v.Significand()};
}

::testing::AssertionResult Same(SoftExtended soft, Bits hard, const char* what) {
  if (Of(soft) == hard) return ::testing::AssertionSuccess();
  // NaNs need only be NaNs.
  if (soft.IsNaN() && (hard.se & 0x7FFF) == 0x7FFF && (hard.m << 1) != 0)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << what << ": soft " << std::hex << Of(soft).se << ":" << Of(soft).m
                                       << ", x87 " << hard.se << ":" << hard.m;
}

}  // namespace

TEST(SoftExtended, LiteralsRoundAsTheX87Does) {
  // The x87's values of the decimal constants the routines use (read off
  // an x86-64 build): a platform whose long double is wider rounds its
  // literal again, and must land on the same bits.
  struct Case {
    SoftExtended value;
    Bits bits;
  };
  for (const Case& c :
       {Case{kPi, {0x4000, 0xc90fdaa22168c235ull}}, Case{SoftExtended(0.7L), {0x3ffe, 0xb333333333333333ull}},
        Case{SoftExtended(0.299L), {0x3ffd, 0x9916872b020c49baull}},
        Case{SoftExtended(0.587L), {0x3ffe, 0x9645a1cac083126full}},
        Case{SoftExtended(0.114L), {0x3ffb, 0xe978d4fdf3b645a2ull}},
        Case{SoftExtended(0.3086L), {0x3ffd, 0x9e00d1b71758e219ull}},
        Case{SoftExtended(0.6094L), {0x3ffe, 0x9c01a36e2eb1c433ull}},
        Case{SoftExtended(0.082L), {0x3ffb, 0xa7ef9db22d0e5604ull}},
        Case{SoftExtended(kPi) / 180, {0x3ff9, 0x8efa351294e9c8aeull}}}) {
    EXPECT_EQ(Of(c.value), c.bits) << std::hex << Of(c.value).se << ":" << Of(c.value).m;
  }
}

#if LDBL_MANT_DIG == 64

namespace {

Bits Of(long double v) {
  Bits b{};
  std::memcpy(&b.m, &v, 8);
  std::memcpy(&b.se, reinterpret_cast<const char*>(&v) + 8, 2);
  return b;
}

long double Hard(SoftExtended v) {
  long double out = 0;
  const std::uint64_t m = v.Significand();
  const std::uint16_t se = v.SignExponent();
  std::memcpy(&out, &m, 8);
  std::memcpy(reinterpret_cast<char*>(&out) + 8, &se, 2);
  return out;
}

// Operands of every kind: random bits over a wide and a narrow range of
// exponents, integers, values a hair from 1 and from each other, zeros,
// infinities and denormals.
std::vector<SoftExtended> Operands(std::mt19937_64& rng, int count) {
  std::vector<SoftExtended> out;
  std::uniform_int_distribution<int> exponent(16383 - 70, 16383 + 70), wide(1, 0x7FFE), kind(0, 9);
  for (int i = 0; i < count; ++i) {
    const std::uint64_t m = rng() | (1ull << 63);
    const std::uint16_t sign = (rng() & 1) ? 0x8000 : 0;
    switch (kind(rng)) {
      case 0:
        out.push_back(SoftExtended::FromBits(sign | std::uint16_t(wide(rng)), m));
        break;
      case 1:
        out.push_back(SoftExtended(std::int64_t(rng() >> (rng() % 64))) * (sign ? -1 : 1));
        break;
      case 2:  // 1 and a few ulps, and powers of two
        out.push_back(SoftExtended::FromBits(sign | 16383, (1ull << 63) | (rng() % 4)));
        break;
      case 3:  // long runs of ones or zeros below the top
        out.push_back(SoftExtended::FromBits(sign | std::uint16_t(exponent(rng)),
                                             (rng() & 1) ? ~0ull : (1ull << 63) | (rng() & 0xFF)));
        break;
      case 4: {  // denormals and the smallest normals (the integer bit set, as encodings must)
        const std::uint16_t e = std::uint16_t(rng() % 3);
        out.push_back(SoftExtended::FromBits(e | sign, e == 0 ? rng() >> (1 + rng() % 63) : m));
        break;
      }
      default:
        out.push_back(SoftExtended::FromBits(sign | std::uint16_t(exponent(rng)), m));
        break;
    }
  }
  for (double v : {0.0, -0.0, 1.0, -1.0, 0.5, 3.0, 1e300, -1e-300, double(INFINITY), -double(INFINITY)})
    out.push_back(SoftExtended(v));
  return out;
}

}  // namespace

TEST(SoftExtended, ArithmeticGivesTheX87sBits) {
  std::mt19937_64 rng(20261210);
  const std::vector<SoftExtended> a = Operands(rng, 400'000), b = Operands(rng, 400'000);
  for (std::size_t i = 0; i < a.size(); ++i) {
    const SoftExtended x = a[i], y = b[i];
    const long double hx = Hard(x), hy = Hard(y);
    ASSERT_TRUE(Same(x + y, Of(hx + hy), "sum"));
    ASSERT_TRUE(Same(x - y, Of(hx - hy), "difference"));
    ASSERT_TRUE(Same(x * y, Of(hx * hy), "product"));
    ASSERT_TRUE(Same(x / y, Of(hx / hy), "quotient"));
    ASSERT_TRUE(Same(SoftExtended::Sqrt(x), Of(sqrtl(hx)), "square root"));
    ASSERT_TRUE(Same(SoftExtended::Trunc(x), Of(truncl(hx)), "integer part"));
    ASSERT_TRUE(Same(SoftExtended::Ceil(x), Of(ceill(hx)), "ceiling"));
    ASSERT_EQ(x < y, hx < hy);
    ASSERT_EQ(x <= y, hx <= hy);
    ASSERT_EQ(x == y, hx == hy);
    ASSERT_EQ(x >= y, hx >= hy);
    const double d = double(x), hd = double(hx);
    const float f = float(x), hf = float(hx);
    ASSERT_TRUE(std::memcmp(&d, &hd, sizeof d) == 0 || (d != d && hd != hd)) << d << " " << hd;
    ASSERT_TRUE(std::memcmp(&f, &hf, sizeof f) == 0 || (f != f && hf != hf)) << f << " " << hf;
    ASSERT_TRUE(Same(SoftExtended(d), Of((long double)d), "from double"));
    if (std::fabs(hx) < 9e18L) {
      ASSERT_EQ(static_cast<long long>(x), static_cast<long long>(hx));
    }
  }
}

TEST(SoftExtended, FunctionsGiveTheLibrarysValues) {
  // Every angle the program turns by comes from the table, which holds
  // what this machine's library gives now.
  int found = 0;
  for (int d = -360; d <= 360; ++d) {
    std::vector<SoftExtended> angles{(kPi * SoftExtended(float(d))) / 180};
    if (d >= -90 && d <= 180) angles.push_back(SoftExtended(DegreesToRadiansF(d)));
    if (d >= -90 && d <= 90) angles.push_back(SoftExtended(d) * kDegToRad);
    for (const SoftExtended x : angles) {
      SoftExtended s, c, t;
      ASSERT_TRUE(SoftTrigFromTable(x, s, c, t)) << d;
      ++found;
      ASSERT_TRUE(Same(s, Of(sinl(Hard(x))), "table sine"));
      ASSERT_TRUE(Same(c, Of(cosl(Hard(x))), "table cosine"));
      ASSERT_TRUE(Same(t, Of(tanl(Hard(x))), "table tangent"));
    }
  }
  EXPECT_EQ(found, 721 + 271 + 181);
  // Elsewhere: 113-bit values rounded. The floats the blur's weights and a
  // turn's sine and cosine become are the library's; the extended values
  // may differ in the last bit (counted, and bounded).
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> angle(-7, 7);
  int lastBit = 0;
  for (int i = 0; i < 200'000; ++i) {
    const SoftExtended x = SoftExtended(angle(rng)) * SoftExtended(1.0000001);
    for (const auto& [soft, hard] :
         {std::pair{SoftSin(x), sinl(Hard(x))}, std::pair{SoftCos(x), cosl(Hard(x))}}) {
      ASSERT_EQ(float(soft), float(hard)) << double(Hard(x));
      ASSERT_LE(std::fabs(Hard(soft) - hard), std::fabs(hard) * 0x1p-63L + 0x1p-16000L) << double(Hard(x));
      lastBit += !(Of(soft) == Of(hard));
    }
  }
  for (int zone = 1; zone <= 400; ++zone) {
    for (int k = 0; k <= 3 * zone; ++k) {
      const SoftExtended e = SoftExtended(-(k * k)) / SoftExtended(2 * zone * zone);
      const long double he = Hard(e);
      ASSERT_EQ(float(SoftExp(e)), float(expl(he))) << zone << " " << k;
      lastBit += !(Of(SoftExp(e)) == Of(expl(he)));
    }
  }
  RecordProperty("last_bit_differences", lastBit);
}

#endif
