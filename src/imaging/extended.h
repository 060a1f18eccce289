// The extended type the toolkit's arithmetic is defined on: the x87's
// 80-bit format, each operation rounded to nearest. Where the compiler's
// long double is that type it is used; elsewhere (or with
// TESSARIN_SOFT_EXTENDED) the software type takes its place, with the same
// results to the bit.
//
// The functions below are the few the toolkit takes of an extended
// number. With the software type, sine, cosine and tangent of the angles
// the program turns by (whole degrees in the forms it computes them) come
// from a table of what the x87 build's C library returns; other arguments,
// and e^x, are computed in 113-bit precision and rounded to 64 bits, which
// gives the library's value unless that lies within an ulp of a rounding
// boundary (never seen in the tests' comparisons).
#pragma once

#include <cfloat>
#include <cmath>

#include "imaging/soft_extended.h"

#if defined(TESSARIN_SOFT_EXTENDED) || LDBL_MANT_DIG != 64
#define TESSARIN_EXTENDED_IS_SOFT 1
using Extended = SoftExtended;
#else
#define TESSARIN_EXTENDED_IS_SOFT 0
using Extended = long double;
#endif

// The software type's functions (always built, so that the x87 build can
// check them against its hardware).
SoftExtended SoftSin(SoftExtended x);
SoftExtended SoftCos(SoftExtended x);
SoftExtended SoftTan(SoftExtended x);
SoftExtended SoftExp(SoftExtended x);
// The table's entry for `x`, when it has one: sine, cosine and tangent.
bool SoftTrigFromTable(SoftExtended x, SoftExtended& sn, SoftExtended& cs, SoftExtended& tn);

#if TESSARIN_EXTENDED_IS_SOFT
inline Extended ExtSin(Extended x) {
  return SoftSin(x);
}
inline Extended ExtCos(Extended x) {
  return SoftCos(x);
}
inline Extended ExtTan(Extended x) {
  return SoftTan(x);
}
inline Extended ExtExp(Extended x) {
  return SoftExp(x);
}
inline Extended ExtSqrt(Extended x) {
  return SoftExtended::Sqrt(x);
}
inline Extended ExtTrunc(Extended x) {
  return SoftExtended::Trunc(x);
}
inline Extended ExtCeil(Extended x) {
  return SoftExtended::Ceil(x);
}
inline Extended ExtAbs(Extended x) {
  return x.Negative() ? -x : x;
}
#else
inline Extended ExtSin(Extended x) {
  return sinl(x);
}
inline Extended ExtCos(Extended x) {
  return cosl(x);
}
inline Extended ExtTan(Extended x) {
  return tanl(x);
}
inline Extended ExtExp(Extended x) {
  return expl(x);
}
inline Extended ExtSqrt(Extended x) {
  return sqrtl(x);
}
inline Extended ExtTrunc(Extended x) {
  return truncl(x);
}
inline Extended ExtCeil(Extended x) {
  return ceill(x);
}
inline Extended ExtAbs(Extended x) {
  return fabsl(x);
}
#endif
