#include "json/number.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "number_model.h"

namespace vornel::json {
namespace {

struct Parsed {
  bool ok = false;
  Value value;
  size_t end = 0;
  NumberFailure failure;
};

// Reads `text` the way the reader does: a leading minus sign is consumed by
// the caller and passed as the sign.
Parsed parse(std::string_view text) {
  Parsed r;
  const bool negative = !text.empty() && text[0] == '-';
  size_t cursor = negative ? 1 : 0;
  r.ok = read_number(text, cursor, negative, r.value, r.failure);
  r.end = cursor;
  return r;
}

std::string describe(const Value& v) {
  char buf[64];
  switch (v.number_rep()) {
    case NumberRep::non_negative:
      std::snprintf(buf, sizeof buf, "u64 %llu", static_cast<unsigned long long>(v.as_u64()));
      break;
    case NumberRep::negative:
      std::snprintf(buf, sizeof buf, "i64 %lld", static_cast<long long>(v.as_i64()));
      break;
    case NumberRep::floating:
      std::snprintf(buf, sizeof buf, "f64 %.17g", v.as_f64());
      break;
  }
  return buf;
}

// ---- Texts that read: representation and exact value --------------------------

struct ReadCase {
  const char* text;
  NumberRep rep;
  uint64_t u = 0;
  int64_t i = 0;
  double f = 0;
};

class NumberReads : public testing::TestWithParam<ReadCase> {};

TEST_P(NumberReads, GivesExactRepresentationAndValue) {
  const ReadCase& c = GetParam();
  const Parsed r = parse(c.text);
  ASSERT_TRUE(r.ok) << c.text;
  EXPECT_EQ(r.end, std::string_view(c.text).size()) << c.text;
  ASSERT_EQ(r.value.number_rep(), c.rep) << c.text << " read as " << describe(r.value);
  switch (c.rep) {
    case NumberRep::non_negative:
      EXPECT_EQ(r.value.as_u64(), c.u) << c.text;
      break;
    case NumberRep::negative:
      EXPECT_EQ(r.value.as_i64(), c.i) << c.text;
      break;
    case NumberRep::floating:
      // Bitwise, so that -0.0 and 0.0 differ.
      EXPECT_EQ(std::bit_cast<uint64_t>(r.value.as_f64()), std::bit_cast<uint64_t>(c.f))
          << c.text << " read as " << describe(r.value);
      break;
  }
}

constexpr auto U = NumberRep::non_negative;
constexpr auto I = NumberRep::negative;
constexpr auto F = NumberRep::floating;

INSTANTIATE_TEST_SUITE_P(
    Table, NumberReads,
    testing::Values(
        ReadCase{"0", U, 0}, ReadCase{"7", U, 7}, ReadCase{"-0", F, 0, 0, -0.0}, ReadCase{"-0.0", F, 0, 0, -0.0},
        ReadCase{"-0e5", F, 0, 0, -0.0}, ReadCase{"0e-5", F, 0, 0, 0.0},
        ReadCase{"18446744073709551615", U, 18446744073709551615u},
        ReadCase{"18446744073709551616", F, 0, 0, 18446744073709551616.0},
        ReadCase{"-1", I, 0, -1},
        ReadCase{"-9223372036854775807", I, 0, -9223372036854775807},
        ReadCase{"-9223372036854775808", I, 0, INT64_MIN},
        ReadCase{"-9223372036854775809", F, 0, 0, -9223372036854775808.0},
        ReadCase{"-18446744073709551615", F, 0, 0, -18446744073709551615.0},
        ReadCase{"1.0", F, 0, 0, 1.0}, ReadCase{"1e0", F, 0, 0, 1.0}, ReadCase{"10e-1", F, 0, 0, 1.0},
        ReadCase{"1E+2", F, 0, 0, 100.0}, ReadCase{"0.1", F, 0, 0, 0.1}, ReadCase{"-2.5", F, 0, 0, -2.5},
        // Not correctly rounded: the nearest binary64 is given in each comment.
        ReadCase{"12345678901234567.0", F, 0, 0, 12345678901234566.0},       // ...568.0
        ReadCase{"1.23456789012345678e-300", F, 0, 0, 1.234567890123457e-300},  // ...68e-300
        ReadCase{"2.4703282292062328e-324", F, 0, 0, 0.0},                     // 5e-324
        ReadCase{"999999999999999.9", F, 0, 0, 1000000000000000.0},          // 999999999999999.9
        ReadCase{"9007199254740993.0", F, 0, 0, 9007199254740994.0},         // ...992.0 (a tie, to even)
        ReadCase{"0.000000000000000000000000000001", F, 0, 0, 9.999999999999999e-31},  // 1e-30
        ReadCase{"-237462374673276894279832749832423479823246327846", F, 0, 0, -2.3746237467327687e+47},
        ReadCase{"1e-400", F, 0, 0, 0.0}, ReadCase{"-1e-400", F, 0, 0, -0.0},
        ReadCase{"1e308", F, 0, 0, 1e308}, ReadCase{"1e-308", F, 0, 0, 1e-308},
        ReadCase{"0e999999999999", F, 0, 0, 0.0}, ReadCase{"-0e999999999999", F, 0, 0, -0.0},
        ReadCase{"1e-99999999999", F, 0, 0, 0.0}, ReadCase{"-1e-99999999999", F, 0, 0, -0.0},
        ReadCase{"0e2147483647", F, 0, 0, 0.0}, ReadCase{"0.0e400", F, 0, 0, 0.0},
        // Dropped integer digits are truncated, not rounded.
        ReadCase{"184467440737095516159", F, 0, 0, 184467440737095516160.0},
        ReadCase{"1844674407370955161999", F, 0, 0, 1844674407370955161000.0},
        // After a long integer a fraction digit that fits is appended and
        // takes the dropped digit's place.
        ReadCase{"184467440737095516160.5", F, 0, 0, 1.844674407370955e+20},
        ReadCase{"18446744073709551616.5", F, 0, 0, 18446744073709551616.0},  // s = 2^64 - 1
        ReadCase{"18446744073709551616.9", F, 0, 0, 18446744073709551616.0},
        // Fraction digits that no longer fit are ignored.
        ReadCase{"1.84467440737095516159", F, 0, 0, 1.8446744073709551615},
        ReadCase{"0.00000000000000000000000000000000000000001", F, 0, 0, 1e-41},
        // Exponent sums saturate rather than wrap.
        ReadCase{"0.1e-2147483647", F, 0, 0, 0.0},
        ReadCase{"123456789012345678901234567890e-2147483647", F, 0, 0, 0.0}));

// ---- Texts that fail: message and index ---------------------------------------

struct FailCase {
  const char* text;
  ErrorCode code;
  size_t index;  // a consumed or peek index into `text`
};

class NumberFails : public testing::TestWithParam<FailCase> {};

TEST_P(NumberFails, WithMessageAtIndex) {
  const FailCase& c = GetParam();
  const Parsed r = parse(c.text);
  ASSERT_FALSE(r.ok) << c.text << " read as " << describe(r.value);
  EXPECT_EQ(message_of(r.failure.code), message_of(c.code)) << c.text;
  EXPECT_EQ(r.failure.index, c.index) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumberFails,
    testing::Values(FailCase{"01", ErrorCode::invalid_number, 2}, FailCase{"-01", ErrorCode::invalid_number, 3},
                    FailCase{"-", ErrorCode::eof_while_parsing_value, 1},
                    FailCase{"-x", ErrorCode::invalid_number, 2}, FailCase{"-.5", ErrorCode::invalid_number, 2},
                    FailCase{"1.", ErrorCode::eof_while_parsing_value, 2},
                    FailCase{"1.x", ErrorCode::invalid_number, 3}, FailCase{"1.e5", ErrorCode::invalid_number, 3},
                    FailCase{"1e", ErrorCode::eof_while_parsing_value, 2},
                    FailCase{"1e+", ErrorCode::eof_while_parsing_value, 3},
                    FailCase{"1E-", ErrorCode::eof_while_parsing_value, 3},
                    FailCase{"1ex", ErrorCode::invalid_number, 3}, FailCase{"1e+x", ErrorCode::invalid_number, 4},
                    FailCase{"1e309", ErrorCode::number_out_of_range, 5},
                    FailCase{"1e400", ErrorCode::number_out_of_range, 5},
                    FailCase{"-1e309", ErrorCode::number_out_of_range, 6},
                    FailCase{"1.8e308", ErrorCode::number_out_of_range, 7},
                    FailCase{"100000000000000000000000e300", ErrorCode::number_out_of_range, 28},
                    FailCase{"1e99999999999", ErrorCode::number_out_of_range, 12},
                    FailCase{"1e2147483648", ErrorCode::number_out_of_range, 12},
                    FailCase{"1e2147483647", ErrorCode::number_out_of_range, 12},
                    FailCase{"0.1e2147483647", ErrorCode::number_out_of_range, 14}));

// ---- Properties against a model of the conversion --------------------------------

// Every float text reads exactly as the model composes it, bit for bit:
// short and long significands (beyond 2^53 and beyond 64 bits), exponents
// across the whole range and past both ends, where the model's refusal must
// be this reader's "number out of range".
TEST(NumberModel, FloatsReadAsTheModelComposesThem) {
  std::mt19937_64 rng(20261210);
  for (int k = 0; k < 50000; ++k) {
    std::string digits = std::to_string(1 + rng() % 9);
    for (uint64_t count = rng() % 25; count > 0; --count) digits += static_cast<char>('0' + rng() % 10);
    if (rng() % 2 == 0 && digits.size() > 1) digits.insert(1 + rng() % (digits.size() - 1), ".");
    const std::string text = (rng() % 4 == 0 ? "-" : "") + digits + "e" + std::to_string(static_cast<int>(rng() % 700) - 350);
    const Parsed r = parse(text);
    const std::optional<double> model = fuzz::model_float(text);
    if (!model) {
      ASSERT_FALSE(r.ok) << text;
      ASSERT_EQ(r.failure.code, ErrorCode::number_out_of_range) << text;
      continue;
    }
    ASSERT_TRUE(r.ok) << text;
    ASSERT_EQ(r.value.number_rep(), NumberRep::floating);
    ASSERT_EQ(std::bit_cast<uint64_t>(r.value.as_f64()), std::bit_cast<uint64_t>(*model)) << text;
  }
}

// With at most 15 significant digits and a power of ten up to 1e22 both
// operands are exact doubles, so the single multiply or divide is correctly
// rounded and must agree with strtod: the writer-form shortcut for short
// floats relies on it.
TEST(NumberModel, ShortDecimalsAreCorrectlyRounded) {
  std::mt19937_64 rng(20261209);
  for (int k = 0; k < 20000; ++k) {
    const uint64_t digits = rng() % 1000000000000000;  // < 10^15
    const int exponent = static_cast<int>(rng() % 45) - 22;
    const std::string text = std::to_string(digits) + "e" + std::to_string(exponent);
    const Parsed r = parse(text);
    ASSERT_TRUE(r.ok) << text;
    ASSERT_EQ(r.value.number_rep(), NumberRep::floating);
    ASSERT_EQ(r.value.as_f64(), std::strtod(text.c_str(), nullptr)) << text;
  }
}

TEST(NumberModel, IntegersInRangeStayExactIntegers) {
  std::mt19937_64 rng(7);
  for (int k = 0; k < 20000; ++k) {
    const uint64_t u = rng() >> (rng() % 64);
    const Parsed positive = parse(std::to_string(u));
    ASSERT_TRUE(positive.ok);
    ASSERT_EQ(positive.value.number_rep(), NumberRep::non_negative);
    ASSERT_EQ(positive.value.as_u64(), u);
    if (u == 0 || u > (uint64_t{1} << 63)) continue;
    const Parsed negative = parse("-" + std::to_string(u));
    ASSERT_TRUE(negative.ok);
    ASSERT_EQ(negative.value.number_rep(), NumberRep::negative);
    ASSERT_EQ(negative.value.as_i64(), static_cast<int64_t>(0 - u));
  }
}

// Digits are taken up to eight at a time; whichever way they are grouped,
// "A.B" must read exactly as "ABe-|B|" (same significand, same exponent), for
// lengths on both sides of each group and of the 64-bit overflow.
TEST(NumberModel, FractionDigitsReadAsTheirIntegerWithANegativeExponent) {
  std::mt19937_64 rng(11);
  auto digits = [&](size_t count) {
    std::string out;
    for (size_t k = 0; k < count; ++k) out += static_cast<char>('0' + rng() % 10);
    return out;
  };
  for (int k = 0; k < 20000; ++k) {
    std::string integer = digits(1 + rng() % 22);
    if (integer[0] == '0') integer[0] = '7';  // "0AB" would not be a number
    const std::string fraction = digits(1 + rng() % 24);
    const Parsed dotted = parse(integer + "." + fraction);
    const Parsed scaled = parse(integer + fraction + "e-" + std::to_string(fraction.size()));
    ASSERT_TRUE(dotted.ok && scaled.ok) << integer << "." << fraction;
    ASSERT_EQ(dotted.value.as_f64(), scaled.value.as_f64()) << integer << "." << fraction;
  }
}

// The bytes either side of '0'..'9' (0x2F '/' and 0x3A ':') end a number at
// every position within a group of eight digits.
TEST(NumberCursor, NeighboursOfTheDigitsEndTheNumberAtEveryPosition) {
  for (const char stop : {'/', ':', ' ', '\x80'}) {
    for (size_t length = 1; length <= 17; ++length) {
      const std::string number = std::string(length, '9');
      const std::string text = number + stop + "12345678";
      const Parsed r = parse(text);
      ASSERT_TRUE(r.ok) << text;
      ASSERT_EQ(r.end, length) << text;
      ASSERT_EQ(r.value.number_as_double(), std::strtod(number.c_str(), nullptr)) << text;
    }
  }
}

TEST(NumberCursor, StopsBeforeTheFirstByteThatIsNotPartOfTheNumber) {
  for (std::string_view text : {"12,", "-3]", "4.5}", "6e7 ", "0x", "1.5e+3e", "0-"}) {
    const Parsed r = parse(text);
    ASSERT_TRUE(r.ok) << text;
    EXPECT_EQ(r.end, text.size() - 1) << text;
  }
}

}  // namespace
}  // namespace vornel::json
