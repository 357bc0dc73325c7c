// The float formatter against std::to_chars (a test oracle only), and its
// table of powers of ten against exact arithmetic.
//
// Every check goes through write_f64's text: the text must have the layout
// that its decimal exponent calls for, its digits and exponent must equal
// the shortest round-trip digits of std::to_chars, and it must read back as
// the same bits.
#include "json/pow10_significands.h"
#include "json/shortest_float.h"
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
  std::cout << "random finite doubles: " << count << ", seed " << seed << ", mismatches " << failures << "\n";
  EXPECT_EQ(failures, 0);
}

// MARK: - The table of powers of ten, against exact arithmetic

// Just enough unsigned big-integer arithmetic to check the table.
class Big {
 public:
  explicit Big(uint64_t n) : Big(0, n) {}
  Big(uint64_t high, uint64_t low)
      : limbs_{static_cast<uint32_t>(low), static_cast<uint32_t>(low >> 32), static_cast<uint32_t>(high),
               static_cast<uint32_t>(high >> 32)} {
    trim();
  }
  static Big pow10(int e) {
    Big b(1);
    for (int i = 0; i < e; ++i) b.multiply(10);
    return b;
  }
  void multiply(uint32_t m) {
    uint64_t carry = 0;
    for (uint32_t& limb : limbs_) {
      carry += static_cast<uint64_t>(limb) * m;
      limb = static_cast<uint32_t>(carry);
      carry >>= 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<uint32_t>(carry));
  }
  Big times(const Big& other) const {
    Big product(0);
    product.limbs_.assign(limbs_.size() + other.limbs_.size(), 0);
    for (size_t i = 0; i < limbs_.size(); ++i) {
      uint64_t carry = 0;
      for (size_t j = 0; j < other.limbs_.size(); ++j) {
        carry += static_cast<uint64_t>(limbs_[i]) * other.limbs_[j] + product.limbs_[i + j];
        product.limbs_[i + j] = static_cast<uint32_t>(carry);
        carry >>= 32;
      }
      product.limbs_[i + other.limbs_.size()] = static_cast<uint32_t>(carry);
    }
    product.trim();
    return product;
  }
  Big shifted_left(int bits) const {
    Big r(0);
    r.limbs_.assign(static_cast<size_t>(bits / 32), 0);
    uint32_t carry = 0;
    const int s = bits % 32;
    for (uint32_t limb : limbs_) {
      r.limbs_.push_back(s == 0 ? limb : (limb << s) | carry);
      carry = s == 0 ? 0 : limb >> (32 - s);
    }
    r.limbs_.push_back(carry);
    r.trim();
    return r;
  }
  int bit_length() const {
    return limbs_.empty() ? 0 : static_cast<int>(32 * limbs_.size()) - std::countl_zero(limbs_.back());
  }
  friend bool operator<(const Big& a, const Big& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size();
    for (size_t i = a.limbs_.size(); i-- > 0;) {
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i];
    }
    return false;
  }
  void subtract_one() {
    for (uint32_t& limb : limbs_) {
      if (limb-- != 0) break;
    }
    trim();
  }

 private:
  void trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }
  std::vector<uint32_t> limbs_;
};

TEST(Pow10Significands, AreTheRoundedUpSignificandsOfPowersOfTen) {
  using namespace detail;
  for (int e = kPow10MinExponent; e <= kPow10MaxExponent; ++e) {
    const Pow10Significand entry = kPow10Significands[e - kPow10MinExponent];
    ASSERT_GE(entry.hi, uint64_t{1} << 63) << "10^" << e << " not normalised";
    const Big g_exact(entry.hi, entry.lo);
    Big g_minus_one = g_exact;
    g_minus_one.subtract_one();
    // 2^(127 - beta) * 10^e lies in [g - 1, g), beta = floor(log2 10^e).
    if (e >= 0) {
      const Big p = Big::pow10(e);
      const int beta = p.bit_length() - 1;
      const Big scaled = p.shifted_left(127);  // 10^e * 2^127
      EXPECT_FALSE(scaled < g_minus_one.shifted_left(beta)) << "10^" << e;
      EXPECT_TRUE(scaled < g_exact.shifted_left(beta)) << "10^" << e;
    } else {
      Big d = Big::pow10(-e);
      Big d_minus_one = d;
      d_minus_one.subtract_one();
      const int beta = -d_minus_one.bit_length();  // -ceil(log2 10^-e)
      const Big power = Big(1).shifted_left(127 - beta);
      EXPECT_FALSE(power < g_minus_one.times(d)) << "10^" << e;
      EXPECT_TRUE(power < g_exact.times(d)) << "10^" << e;
    }
  }
}

}  // namespace
}  // namespace vornel::json
