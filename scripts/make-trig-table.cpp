// Writes src/imaging/soft_trig_table.inc: sine, cosine and tangent, as this
// machine's C library gives them in x87 extended precision, of every angle
// of whole degrees in the three forms the program computes angles in.
// Build and run on x86-64:
//   g++ -O1 -ffp-contract=off scripts/make-trig-table.cpp -o /tmp/make-trig-table
//   /tmp/make-trig-table > src/imaging/soft_trig_table.inc
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

static_assert(LDBL_MANT_DIG == 64, "needs the x87 extended type");

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;
constexpr long double kDegToRad = kPi / 180;

struct Bits {
  std::uint16_t se;
  std::uint64_t m;
  bool operator<(const Bits& o) const { return se != o.se ? se < o.se : m < o.m; }
  bool operator==(const Bits& o) const { return se == o.se && m == o.m; }
};

Bits Of(long double v) {
  Bits b{};
  std::memcpy(&b.m, &v, 8);
  std::memcpy(&b.se, reinterpret_cast<const char*>(&v) + 8, 2);
  return b;
}

long double From(Bits b) {
  long double v = 0;
  std::memcpy(&v, &b.m, 8);
  std::memcpy(reinterpret_cast<char*>(&v) + 8, &b.se, 2);
  return v;
}

}  // namespace

int main() {
  std::vector<Bits> args;
  // Whole degrees through a float (the band's mask and guide lines).
  for (int d = -90; d <= 180; ++d)
    args.push_back(
        Of(static_cast<long double>(static_cast<float>(static_cast<long double>(float(d)) * kDegToRad))));
  // pi times the degrees, over 180 (the turn of a picture or the band).
  for (int d = -360; d <= 360; ++d) args.push_back(Of((kPi * static_cast<long double>(float(d))) / 180));
  // The degrees times pi / 180 (the lens look's band).
  for (int d = -90; d <= 90; ++d) args.push_back(Of(static_cast<long double>(d) * kDegToRad));
  std::sort(args.begin(), args.end());
  args.erase(std::unique(args.begin(), args.end()), args.end());
  std::printf("// Made by scripts/make-trig-table.cpp: argument, sine, cosine, tangent.\n");
  for (const Bits& a : args) {
    const long double x = From(a);
    const Bits s = Of(sinl(x)), c = Of(cosl(x)), t = Of(tanl(x));
    std::printf("{0x%04x, 0x%016llxull, 0x%04x, 0x%016llxull, 0x%04x, 0x%016llxull, 0x%04x, 0x%016llxull},\n",
                a.se, (unsigned long long)a.m, s.se, (unsigned long long)s.m, c.se, (unsigned long long)c.m,
                t.se, (unsigned long long)t.m);
  }
}
