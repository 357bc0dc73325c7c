// Schubfach: the shortest decimal in a binary64 value's rounding interval.
//
// References:
//  [1] Raffaello Giulietti, "The Schubfach way to render doubles" (2020,
//      revised 2022), and its Java implementation, java.lang.DoubleToDecimal.
//  [2] Alexander Bolz, Drachennest, schubfach_64.cc: the arrangement with
//      128-bit table entries in [2^127, 2^128) followed here.
//  [3] Junekey Jeon, "Dragonbox: A New Floating-Point Binary-to-Decimal
//      Conversion Algorithm" (2020): the fixed-point logarithm forms.
//
// Outline. A positive finite double is v = c * 2^q with an integer c < 2^53.
// Its rounding interval R runs halfway to each neighbour: [v - 2^(q-1),
// v + 2^(q-1)], except at a power of two (c = 2^52, normal, not the smallest
// normal) where the neighbour below is twice as near: [v - 2^(q-2), v +
// 2^(q-1)]. The ends belong to R exactly when c is even, since a reader
// rounding half to even then rounds them to v.
//
// Choose k with 10^k <= |R| < 10^(k+1) (k = floor(log10 2^q), or
// floor(log10(3/4 2^q)) for the narrower interval). Then R holds at least one
// multiple of 10^k and at most one multiple of 10^(k+1) (proved in [1]). Hence
// the shortest decimal is the multiple of 10^(k+1) in R if there is one (no
// shorter decimal could lie in R without being one), and otherwise the
// multiple of 10^k in R nearest to v. Trailing zeros are dropped by the
// caller.
//
// All of this is decided on v, its interval ends, scaled by 4 * 10^-k: the
// scaled numbers are below 2^59 and only their integer parts and whether they
// are integers matter. One 64 x 128-bit multiplication by a table entry
// g ~ 10^-k * 2^(127 - floor(log2 10^-k)) gives each of them, rounded to odd:
// the floor, with the lowest bit set when the exact value is not an integer
// ([1] proves the table precision makes this exact for every double).
#include "json/shortest_float.h"

#include <bit>

#include "json/pow10_significands.h"

namespace vornel::json {
namespace {

using detail::kPow10Significands;
using detail::Pow10Significand;

// GCC and Clang's 128-bit integer; __extension__ keeps -Wpedantic quiet.
__extension__ typedef unsigned __int128 u128;

// floor(log10(2^q)) for |q| <= 2620 (checked by the table generator).
constexpr int floor_log10_pow2(int q) noexcept {
  return static_cast<int>((q * detail::kFloorLog10Pow2Multiplier + detail::kFloorLog10Pow2Addend) >>
                          detail::kFloorLog10Pow2Shift);
}

// floor(log10(3/4 * 2^q)) for the binary exponents of doubles.
constexpr int floor_log10_three_quarters_pow2(int q) noexcept {
  return static_cast<int>(
      (q * detail::kFloorLog10ThreeQuartersPow2Multiplier + detail::kFloorLog10ThreeQuartersPow2Addend) >>
      detail::kFloorLog10ThreeQuartersPow2Shift);
}

// floor(log2(10^e)) for |e| <= 400.
constexpr int floor_log2_pow10(int e) noexcept {
  return static_cast<int>((e * detail::kFloorLog2Pow10Multiplier + detail::kFloorLog2Pow10Addend) >>
                          detail::kFloorLog2Pow10Shift);
}

// floor(g * cp / 2^128), with the lowest bit set when the product is not a
// multiple of 2^128 ("round to odd").
//
// g * cp = hi(g)*cp * 2^64 + lo(g)*cp. Below 2^64 only the low half of
// lo(g)*cp lies, and it cannot carry into the integer part, so the integer
// part is hi(hi(g)*cp) plus the carry out of lo(hi(g)*cp) + hi(lo(g)*cp), and
// that sum is the top 64 bits of the fraction. Because g exceeds the exact
// scaled power of ten by at most 1, the product exceeds the exact value by
// less than 2^-68: an exact integer shows a zero fraction here, and a
// non-integer (whose fraction [1] bounds away from 0 and 1) a
// non-zero one.
inline uint64_t round_to_odd(const Pow10Significand& g, uint64_t cp) noexcept {
  const u128 low = static_cast<u128>(g.lo) * cp;
  const u128 high = static_cast<u128>(g.hi) * cp;
  const u128 middle = static_cast<u128>(static_cast<uint64_t>(high)) + static_cast<uint64_t>(low >> 64);
  const uint64_t integer = static_cast<uint64_t>(high >> 64) + static_cast<uint64_t>(middle >> 64);
  const uint64_t fraction = static_cast<uint64_t>(middle);
  return integer | (fraction != 0 ? 1 : 0);
}

}  // namespace

Decimal shortest_decimal(double x) noexcept {
  constexpr int kSignificandBits = 52;
  constexpr int kExponentBias = 1075;  // 1023 + 52: v = c * 2^(biased - 1075)
  constexpr uint64_t kHiddenBit = uint64_t{1} << kSignificandBits;

  const uint64_t bits = std::bit_cast<uint64_t>(x);
  const uint64_t fraction = bits & (kHiddenBit - 1);
  const int biased_exponent = static_cast<int>((bits >> kSignificandBits) & 0x7ff);

  uint64_t c;
  int q;
  if (biased_exponent != 0) {
    c = fraction | kHiddenBit;
    q = biased_exponent - kExponentBias;
  } else {  // subnormal: same spacing as the smallest normals
    c = fraction;
    q = 1 - kExponentBias;
  }

  // At a power of two the neighbour below is at half the distance, except
  // below the smallest normal, where the subnormal spacing is the same.
  const bool narrower_below = fraction == 0 && biased_exponent > 1;

  // 4 * (v, lower end, upper end) / 2^q.
  const uint64_t cb = c << 2;
  const uint64_t cbl = narrower_below ? cb - 1 : cb - 2;
  const uint64_t cbr = cb + 2;

  const int k = narrower_below ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
  // h in [1, 4]: with it, g * (cb << h) / 2^128 = cb * 2^q * 10^-k.
  const int h = q + floor_log2_pow10(-k) + 1;
  const Pow10Significand& g = kPow10Significands[-k - detail::kPow10MinExponent];

  // Tried and measured slower (about 8%): one product for v and the ends
  // derived by adding and subtracting shifts of g. It saves two of the three
  // multiplications but costs more instructions in 192-bit carries.
  const uint64_t vb = round_to_odd(g, cb << h);
  const uint64_t vbl = round_to_odd(g, cbl << h);
  const uint64_t vbr = round_to_odd(g, cbr << h);

  // Scaled candidates are multiples of 4. A candidate u lies in R when
  // lower <= 4u <= upper: with the ends rounded to odd, a candidate equal to
  // an end is exact, and for an odd c the ends themselves are outside.
  const uint64_t odd = c & 1;
  const uint64_t lower = vbl + odd;
  const uint64_t upper = vbr - odd;

  // s = floor(v * 10^-k): 16 or 17 digits for normals, fewer for subnormals.
  const uint64_t s = vb >> 2;

  // One digit shorter: the multiples of 10^(k+1) around v, sp and sp + 1
  // (scaled by 40). At most one of them lies in R; if exactly one does it is
  // the answer (as in [1] and [2]). Only subnormals have s < 10, and then no
  // shorter candidate exists.
  const uint64_t sp = s / 10;
  const bool sp_inside = lower <= 40 * sp;
  const bool tp_inside = 40 * sp + 40 <= upper;
  const bool shorter = s >= 10 && sp_inside != tp_inside;

  // Full length: s and s + 1, of which at least one lies in R. If both do,
  // take the nearer to v, and at an exact halfway point the even one.
  const bool s_inside = lower <= 4 * s;
  const bool t_inside = 4 * s + 4 <= upper;
  const uint64_t midpoint = 4 * s + 2;
  const bool nearer_up = vb > midpoint || (vb == midpoint && (s & 1) != 0);
  const bool round_up = !s_inside || (t_inside && nearer_up);

  // Both outcomes are computed and one is selected: which one applies is
  // close to random for arbitrary doubles, so a branch would mispredict.
  const uint64_t short_significand = sp + (tp_inside ? 1 : 0);
  const uint64_t full_significand = s + (round_up ? 1 : 0);
  return {shorter ? short_significand : full_significand, shorter ? k + 1 : k};
}

}  // namespace vornel::json
