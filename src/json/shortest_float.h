// Shortest round-trip decimal digits of a binary64 value (Schubfach).
//
// The digit selection alone: the writer (writer.cpp) lays the digits out as
// text. Kept apart so that the algorithm can be read, tested and replaced on
// its own.
#pragma once

#include <cstdint>

namespace vornel::json {

// A positive decimal significand * 10^exponent. The significand has at most
// 17 digits and may end in zeros, which carry no information: the value is
// the same with them dropped and the exponent raised.
struct Decimal {
  uint64_t significand;
  int exponent;
};

// The shortest decimal that reads back as |x| under round-to-nearest-even,
// nearest to |x| among the shortest, ties to an even last digit. |x| must be
// finite and non-zero; the sign is ignored.
Decimal shortest_decimal(double x) noexcept;

}  // namespace vornel::json
