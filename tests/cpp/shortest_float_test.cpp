// The float formatter against std::to_chars (a test oracle only). (The table
// of powers of ten is checked against its exact generator by CTest.)
//
// Every check goes through write_f64's text: the text must have the layout
// that its decimal exponent calls for, its digits and exponent must equal
// the shortest round-trip digits of std::to_chars, and it must read back as
// the same bits.
#include "json/writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace vornel::json {
namespace {

// Significant digits (first and last non-zero) and the exponent of the first.
struct Digits {
  std::string digits;
  int exponent;
  bool operator==(const Digits&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Digits& d) { return os << d.digits << "e" << d.exponent; }

Digits oracle_digits(double x) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, std::fabs(x), std::chars_format::scientific);
  const std::string_view s(text, static_cast<size_t>(result.ptr - text));
  const size_t e = s.find('e');
  Digits d{std::string(s.substr(0, 1)) + std::string(e > 2 ? s.substr(2, e - 2) : ""), 0};
  std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), d.exponent);
  return d;
}

bool all_digits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Reads write_f64's text back into digits, or nothing when the text does not
// have the layout its exponent calls for.
std::optional<Digits> parse_layout(std::string_view text) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  if (const size_t e = text.find('e'); e != std::string_view::npos) {
    // d1[.d2...dN]e±X, X without leading zeros, for X >= 16 or X <= -6
    std::string_view mantissa = text.substr(0, e), exponent = text.substr(e + 1);
    if (exponent.size() < 2 || (exponent[0] != '+' && exponent[0] != '-')) return {};
    if (!all_digits(exponent.substr(1)) || (exponent.size() > 2 && exponent[1] == '0')) return {};
    int x = 0;
    std::from_chars(exponent.data() + 1, exponent.data() + exponent.size(), x);
    if (exponent[0] == '-') x = -x;
    if ((x < 16 && x > -6) || (exponent[0] == '+') != (x >= 0)) return {};
    std::string digits(mantissa.substr(0, 1));
    if (mantissa.size() > 1) {
      if (mantissa.size() < 3 || mantissa[1] != '.') return {};
      digits += mantissa.substr(2);
    }
    if (!all_digits(digits) || digits.front() == '0' || digits.back() == '0') return {};
    return Digits{digits, x};
  }
  const size_t point = text.find('.');
  if (point == std::string_view::npos) return {};
  std::string_view integer = text.substr(0, point), fraction = text.substr(point + 1);
  if (!all_digits(integer) || !all_digits(fraction)) return {};
  if (integer == "0") {
    // 0.[zeros]digits for -5 <= X <= -1
    const size_t zeros = fraction.find_first_not_of('0');
    if (zeros == std::string_view::npos || zeros > 4 || fraction.back() == '0') return {};
    return Digits{std::string(fraction.substr(zeros)), -static_cast<int>(zeros) - 1};
  }
  // digits.digits or digits.0 for 0 <= X <= 15
  if (integer[0] == '0' || integer.size() > 16) return {};
  std::string digits(integer);
  if (fraction != "0") {
    if (fraction.back() == '0') return {};
    digits += fraction;
  }
  digits.erase(digits.find_last_not_of('0') + 1);
  return Digits{digits, static_cast<int>(integer.size()) - 1};
}

// One value through the formatter: returns a description of what is wrong,
// or nothing.
std::optional<std::string> mismatch(double x) {
  char scratch[kFloatScratch + 8];
  const char* end = write_f64(x, scratch);
  const std::string text(scratch, static_cast<size_t>(end - scratch));
  if (text.size() > kFloatScratch) return "longer than the scratch: " + text;
  if (std::signbit(x) != (text[0] == '-')) return "sign: " + text;
  const std::optional<Digits> got = parse_layout(text);
  if (!got) return "layout: " + text;
  const Digits expected = oracle_digits(x);
  if (!(*got == expected)) {
    std::ostringstream message;
    message << "digits: " << text << " against " << expected;
    return message.str();
  }
  if (std::bit_cast<uint64_t>(std::strtod(text.c_str(), nullptr)) != std::bit_cast<uint64_t>(x)) {
    return "does not read back: " + text;
  }
  return {};
}

void expect_all_match(const std::vector<double>& values) {
  int failures = 0;
  for (double x : values) {
    if (auto problem = mismatch(x)) {
      ADD_FAILURE() << std::hexfloat << x << std::defaultfloat << ": " << *problem;
      if (++failures == 20) FAIL() << "stopping after 20 failures";
    }
  }
}

double from_bits(uint64_t bits) { return std::bit_cast<double>(bits); }

// MARK: - Targeted classes

TEST(ShortestFloat, EveryPowerOfTwoAndItsNeighbours) {
  // The asymmetric interval below 2^e (narrower except at the smallest
  // normal), and the ordinary intervals just above and below it.
  std::vector<double> values;
  for (int e = -1074; e <= 1023; ++e) {
    const uint64_t bits = std::bit_cast<uint64_t>(std::ldexp(1.0, e));
    for (uint64_t b : {bits - 1, bits, bits + 1}) {
      if (b != 0) values.push_back(from_bits(b));
    }
  }
  expect_all_match(values);
}

TEST(ShortestFloat, Subnormals) {
  std::vector<double> values;
  for (uint64_t c = 1; c <= 20000; ++c) values.push_back(from_bits(c));  // few digits, tiny c
  for (uint64_t c = 0; c < 20000; ++c) values.push_back(from_bits((uint64_t{1} << 52) - 1 - c));
  std::mt19937_64 random(11);
  for (int i = 0; i < 20000; ++i) values.push_back(from_bits(random() & ((uint64_t{1} << 52) - 1)));
  values.push_back(-from_bits(1));
  expect_all_match(values);
}

TEST(ShortestFloat, IntegersAround2To53) {
  std::vector<double> values;
  for (int64_t n = -3000; n <= 3000; ++n) {
    values.push_back(static_cast<double>(n + (int64_t{1} << 53)));
    values.push_back(static_cast<double>(n * 2 + (int64_t{1} << 54)));
    values.push_back(static_cast<double>(n + 10000000000000000));
    values.push_back(static_cast<double>(n + 1000000000000000));
  }
  expect_all_match(values);
}

TEST(ShortestFloat, NeighboursOfEveryPowerOfTen) {
  // 10^e and 16 ulps either side: the layout switches at 1e-5/1e-6 and
  // 1e15/1e16, and exact powers of ten exercise the one-digit-shorter branch.
  std::vector<double> values;
  for (int e = -323; e <= 308; ++e) {
    char text[16];
    std::snprintf(text, sizeof text, "1e%d", e);
    const uint64_t bits = std::bit_cast<uint64_t>(std::strtod(text, nullptr));
    for (uint64_t delta = 0; delta <= 16 && delta < bits; ++delta) {
      values.push_back(from_bits(bits + delta));
      values.push_back(from_bits(bits - delta));
    }
  }
  expect_all_match(values);
}

TEST(ShortestFloat, ShortDecimals) {
  // Values that were typed: few digits, many trailing zeros to drop, every
  // layout range.
  std::vector<double> values;
  std::mt19937_64 random(5);
  for (int i = 0; i < 50000; ++i) {
    char text[48];
    std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(random() % 1000000),
                  static_cast<int>(random() % 60) - 30);
    if (const double x = std::strtod(text, nullptr); x != 0) values.push_back(x);
  }
  expect_all_match(values);
}

// MARK: - Random bit patterns

// Formats `count` random finite bit patterns and returns the mismatches.
int64_t random_mismatches(uint64_t seed, int64_t count) {
  std::mt19937_64 random(seed);
  int64_t done = 0, failures = 0;
  while (done < count) {
    const double x = from_bits(random());
    if (!std::isfinite(x)) continue;
    ++done;
    if (auto problem = mismatch(x)) {
      if (++failures <= 20) ADD_FAILURE() << std::hexfloat << x << std::defaultfloat << ": " << *problem;
    }
  }
  return failures;
}

TEST(ShortestFloat, RandomBitPatterns) {
  constexpr uint64_t kSeed = 0x5eed2026;
  EXPECT_EQ(random_mismatches(kSeed, 100000), 0) << "seed " << kSeed;
}

// VORNEL_LONG_TESTS=1 runs ten million (or VORNEL_LONG_TEST_COUNT) values
// from the seed VORNEL_SEED (default: fixed).
TEST(ShortestFloat, ManyRandomBitPatterns) {
  const char* enabled = std::getenv("VORNEL_LONG_TESTS");
  if (enabled == nullptr || std::string(enabled) != "1") GTEST_SKIP() << "set VORNEL_LONG_TESTS=1";
  const char* count_text = std::getenv("VORNEL_LONG_TEST_COUNT");
  const char* seed_text = std::getenv("VORNEL_SEED");
  const int64_t count = count_text ? std::strtoll(count_text, nullptr, 10) : 10000000;
  const uint64_t seed = seed_text ? std::strtoull(seed_text, nullptr, 0) : 0x10000000;
  const int64_t failures = random_mismatches(seed, count);
  std::cout << "random finite doubles: " << count << ", seed 0x" << std::hex << seed << std::dec
            << ", mismatches " << failures << "\n";
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace vornel::json
