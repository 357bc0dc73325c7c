// An independent model of how the reader turns a float's text into a
// double, for the tests to compare the reader with: written digit by digit
// for clarity, with its powers of ten from the C library's correctly
// rounded strtod rather than the reader's generated table.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace vornel::fuzz {

// The double nearest to 10^k, for k in 0..308.
inline double model_pow10(int k) {
  static const auto table = [] {
    std::array<double, 309> powers{};
    for (int i = 0; i <= 308; ++i) powers[static_cast<size_t>(i)] = std::strtod(("1e" + std::to_string(i)).c_str(), nullptr);
    return powers;
  }();
  return table[static_cast<size_t>(k)];
}

// The double the reader makes of a valid JSON number text that reads as a
// float (it has a fraction or an exponent, or lies outside both integer
// ranges); nothing when the reader refuses it as out of range.
//
// The significand s takes digits while s * 10 + d fits in 64 bits; once an
// integer digit does not, it and every later integer digit are dropped, each
// adding one to the decimal exponent x (truncation, not rounding); fraction
// digits that still fit are appended (x minus one each), the rest ignored.
// Then s becomes a double and is scaled by single multiplies or divides.
inline std::optional<double> model_float(std::string_view text) {
  size_t i = 0;
  const bool negative = text[i] == '-';
  i += negative;
  const auto is_digit = [&](size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
  const auto fits = [](uint64_t s, unsigned d) { return s <= (UINT64_MAX - d) / 10; };
  uint64_t s = 0;
  int64_t x = 0;
  bool dropping = false;
  for (; is_digit(i); ++i) {
    const auto d = static_cast<unsigned>(text[i] - '0');
    dropping = dropping || !fits(s, d);
    if (dropping) {
      ++x;
    } else {
      s = s * 10 + d;
    }
  }
  if (i < text.size() && text[i] == '.') {
    bool ignoring = false;
    for (++i; is_digit(i); ++i) {
      const auto d = static_cast<unsigned>(text[i] - '0');
      ignoring = ignoring || !fits(s, d);
      if (!ignoring) {
        s = s * 10 + d;
        --x;
      }
    }
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    const bool exponent_negative = text[i] == '-';
    i += text[i] == '-' || text[i] == '+';
    int64_t e = 0;
    for (; is_digit(i); ++i) {
      e = e * 10 + (text[i] - '0');
      if (e > INT32_MAX) {
        if (s != 0 && !exponent_negative) return std::nullopt;
        return negative ? -0.0 : 0.0;
      }
    }
    x += exponent_negative ? -e : e;
  }
  x = std::clamp<int64_t>(x, INT32_MIN, INT32_MAX);
  double f = static_cast<double>(s);
  for (; x < -308 || x > 308; x += 308) {
    if (f == 0.0) return negative ? -0.0 : 0.0;
    if (x > 308) return std::nullopt;
    f /= model_pow10(308);
  }
  if (x >= 0) {
    f *= model_pow10(static_cast<int>(x));
    if (std::isinf(f)) return std::nullopt;
  } else {
    f /= model_pow10(static_cast<int>(-x));
  }
  return negative ? -f : f;
}

}  // namespace vornel::fuzz
