#include "json/number.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "json/pow10_table.h"
#include "json/scan.h"

namespace vornel::json {
namespace {

// s * 10 + d would exceed 2^64 - 1.
constexpr uint64_t kU64Tenth = 1844674407370955161;  // (2^64 - 1) / 10
constexpr bool overflows_u64(uint64_t s, unsigned d) {
  return s > kU64Tenth || (s == kU64Tenth && d > 5);
}
// e * 10 + d would exceed 2^31 - 1.
constexpr int32_t kI32Tenth = 214748364;
constexpr bool overflows_i32(int32_t e, unsigned d) {
  return e > kI32Tenth || (e == kI32Tenth && d > 7);
}

inline unsigned digit_at(const char* p, size_t i) { return static_cast<unsigned char>(p[i]) - '0'; }
inline bool is_digit_at(const char* p, size_t n, size_t i) { return i < n && digit_at(p, i) <= 9; }

// The decimal exponent counts dropped integer digits up and kept fraction
// digits down, one per byte; saturate so that inputs of more than 2^31 digits
// cannot overflow it (the value is out of range or zero long before).
inline void exponent_up(int32_t& x) { x += x != std::numeric_limits<int32_t>::max(); }
inline void exponent_down(int32_t& x) { x -= x != std::numeric_limits<int32_t>::min(); }

// The digits among the eight bytes at p + i (when eight remain): how many
// the run of digits there counts, up to eight, and their value. Digits run
// long in data (ids, timestamps, fractions of 15 or more digits), and taking
// them a word at a time saves most of the per-digit loop, its tail included.
inline bool read_digit_run(const char* p, size_t n, size_t i, unsigned& count, uint64_t& value) noexcept {
  if (n - i < 8) return false;
  // With t = byte ^ '0', the digits are exactly the bytes with t < 10:
  // t + 0x76 sets the high bit for t >= 10, and t's own high bit for the
  // rest. A carry out of a byte reaches only the bytes after it, so the
  // first flagged byte is exact.
  uint64_t w = scan::load_le64(p + i) ^ 0x3030303030303030;
  const uint64_t stops = ((w + 0x7676767676767676) | w) & 0x8080808080808080;
  count = stops == 0 ? 8 : static_cast<unsigned>(std::countr_zero(stops)) >> 3;
  if (count == 0) {
    value = 0;
    return true;
  }
  // Move the run's bytes to the top of the word, pushing the bytes after it
  // out: the zero bytes shifted in below are leading zeros, and the word
  // reads as eight digits.
  w <<= 8 * (8 - count);
  // Byte k now holds digit d_k, the first digit d_0 in the lowest byte, and
  // the value is p_0 * 10^6 + p_1 * 10^4 + p_2 * 10^2 + p_3 with the pairs
  // p_j = 10 * d_(2j) + d_(2j+1).
  //
  // 1. w * 10 + (w >> 8) puts 10 * d_k + d_(k+1) <= 99 in byte k: no byte
  //    carries into the next, and the even bytes 0, 2, 4, 6 hold p_0..p_3
  //    (the odd ones hold straddling pairs, masked off below).
  // 2. The mask 0x000000FF000000FF keeps bytes 0 and 4: A = p_0 + p_2 * 2^32;
  //    shifted by 16 first, bytes 2 and 6: B = p_1 + p_3 * 2^32.
  //    A * (100 + 10^6 * 2^32) = p_0 * 100 + (p_0 * 10^6 + p_2 * 100) * 2^32
  //    and B * (1 + 10^4 * 2^32) = p_1 + (p_1 * 10^4 + p_3) * 2^32, modulo
  //    2^64 (the terms of 2^64 and up fall away). The low halves add to at
  //    most 99 * 100 + 99 < 2^32, so nothing carries into the high halves,
  //    whose sum is the value, at most 10^8 - 1 < 2^32: shifting by 32 leaves
  //    exactly it.
  w = (w * 10) + (w >> 8);
  value = (((w & 0x000000FF000000FF) * (100 + (uint64_t{1000000} << 32))) +
           (((w >> 16) & 0x000000FF000000FF) * (1 + (uint64_t{10000} << 32)))) >> 32;
  return true;
}

constexpr uint64_t kPowersOfTen[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// s * 10^8 + eight more digits still fits in 64 bits (and with fewer
// digits, s * 10^count + the run all the more).
constexpr uint64_t kU64HundredMillionth = UINT64_MAX / 100000000 - 1;

// Appends the digits at p + i to s a word at a time, while s has room for
// eight more, and moves i past them; returns how many it took. The caller
// takes the digits that remain one by one.
[[gnu::always_inline]] inline unsigned append_digit_runs(const char* p, size_t n, size_t& i, uint64_t& s) noexcept {
  unsigned taken = 0;
  for (unsigned count = 8; count == 8 && s < kU64HundredMillionth;) {
    uint64_t run;
    if (!read_digit_run(p, n, i, count, run)) break;
    s = s * kPowersOfTen[count] + run;
    i += count;
    taken += count;
  }
  return taken;
}

// s * 10^x, composed fast: one conversion of s to a double, then one
// multiply or divide by the double nearest to a power of ten (after one
// divide by 1e308 per 308 orders of magnitude beyond the table). Each step
// rounds on its own, so a float of more than 15 significant digits or a
// large exponent can land a unit or two in the last place away from the
// double nearest to its text, and a tiny one can flush to zero. The writer
// prints what was read, so these results show in the output; they are this
// reader's, on every machine and runtime, and stay as they are. False when
// the value is too large for a double.
bool compose_float(uint64_t s, int32_t x, double& f) noexcept {
  f = static_cast<double>(s);
  while (x < -308 || x > 308) {
    if (f == 0.0) return true;
    if (x > 308) return false;
    f /= POW10[308];
    x += 308;
  }
  if (x < 0) {
    f /= POW10[-x];
    return true;
  }
  f *= POW10[x];
  return !std::isinf(f);
}

[[gnu::cold, gnu::noinline]] bool fail(NumberFailure& failure, ErrorCode code, size_t index) noexcept {
  failure.code = code;
  failure.index = index;
  return false;
}

}  // namespace

bool read_number(std::string_view input, size_t& cursor, bool negative, Value& out,
                 NumberFailure& failure) noexcept {
  const char* p = input.data();
  const size_t n = input.size();
  size_t i = cursor;
  uint64_t s = 0;
  int32_t x = 0;

  // Integer part.
  if (i == n) return fail(failure, ErrorCode::eof_while_parsing_value, i);
  const unsigned first = digit_at(p, i++);
  if (first == 0) {
    if (is_digit_at(p, n, i)) return fail(failure, ErrorCode::invalid_number, i + 1);
  } else if (first <= 9) {
    s = first;
    append_digit_runs(p, n, i, s);
    while (is_digit_at(p, n, i)) {
      const unsigned d = digit_at(p, i);
      if (overflows_u64(s, d)) {
        // Too many digits for s: the rest only scale it, truncated.
        while (is_digit_at(p, n, i)) {
          ++i;
          exponent_up(x);
        }
        break;
      }
      s = s * 10 + d;
      ++i;
    }
  } else {
    return fail(failure, ErrorCode::invalid_number, i);
  }

  const bool has_fraction = i < n && p[i] == '.';
  const bool has_exponent = i < n && (p[i] | 0x20) == 'e';
  if (!has_fraction && !has_exponent && x == 0) {
    // An integer whose digits all fit in s.
    cursor = i;
    if (!negative) {
      out = Value::non_negative(s);
    } else if (s == 0) {
      out = Value::floating(-0.0);
    } else if (s <= uint64_t{1} << 63) {
      out = Value::negative(static_cast<int64_t>(~s + 1));
    } else {
      out = Value::floating(-static_cast<double>(s));
    }
    return true;
  }

  if (has_fraction) {
    ++i;
    if (i == n) return fail(failure, ErrorCode::eof_while_parsing_value, n);
    if (digit_at(p, i) > 9) return fail(failure, ErrorCode::invalid_number, i + 1);
    // After a long integer a digit that still fits is appended too; its
    // exponent step cancels that of the first dropped integer digit.
    x -= static_cast<int32_t>(append_digit_runs(p, n, i, s));  // at most 20 digits are ever kept: no saturation
    while (is_digit_at(p, n, i)) {
      const unsigned d = digit_at(p, i);
      if (overflows_u64(s, d)) {
        while (is_digit_at(p, n, i)) ++i;
        break;
      }
      s = s * 10 + d;
      exponent_down(x);
      ++i;
    }
  }
  if (i < n && (p[i] | 0x20) == 'e') {
    ++i;
    bool exponent_negative = false;
    if (i < n && (p[i] == '+' || p[i] == '-')) exponent_negative = p[i++] == '-';
    if (i == n) return fail(failure, ErrorCode::eof_while_parsing_value, i);
    const unsigned d0 = digit_at(p, i++);
    if (d0 > 9) return fail(failure, ErrorCode::invalid_number, i);
    int32_t e = static_cast<int32_t>(d0);
    while (is_digit_at(p, n, i)) {
      const unsigned d = digit_at(p, i++);
      if (overflows_i32(e, d)) {
        // Only a non-zero significand scaled up can overflow; anything else
        // is zero however large the exponent.
        if (s != 0 && !exponent_negative) return fail(failure, ErrorCode::number_out_of_range, i);
        while (is_digit_at(p, n, i)) ++i;
        cursor = i;
        out = Value::floating(negative ? -0.0 : 0.0);
        return true;
      }
      e = e * 10 + static_cast<int32_t>(d);
    }
    const int64_t sum = int64_t{x} + (exponent_negative ? -int64_t{e} : int64_t{e});
    x = static_cast<int32_t>(sum < INT32_MIN ? INT32_MIN : sum > INT32_MAX ? INT32_MAX : sum);
  }

  double f;
  if (!compose_float(s, x, f)) return fail(failure, ErrorCode::number_out_of_range, i);
  cursor = i;
  out = Value::floating(negative ? -f : f);
  return true;
}

}  // namespace vornel::json
