#include "json/writer.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace vornel::json {
namespace {

// The values made here are small: one arena holds them all.
Arena arena;

std::string text_of(const Value& value) {
  ByteBuffer out;
  write_value(value, out);
  EXPECT_EQ(display_value(value), out.view());
  return std::string(out.view());
}

std::string float_text(double x) {
  char scratch[kFloatScratch];
  const char* end = write_f64(x, scratch);
  return std::string(scratch, static_cast<size_t>(end - scratch));
}

std::string string_text(std::string_view s) {
  ByteBuffer out;
  serialize_str(s, out);
  return std::string(out.view());
}

// MARK: - Floats: the layout, on values whose digits are known

struct FloatCase {
  double value;
  const char* text;
};

class FloatLayout : public testing::TestWithParam<FloatCase> {};

TEST_P(FloatLayout, WritesExactText) {
  const auto& [value, text] = GetParam();
  EXPECT_EQ(float_text(value), text);
  EXPECT_EQ(text_of(Value::floating(value)), text);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, FloatLayout,
    testing::Values(
        FloatCase{0.1, "0.1"}, FloatCase{0.1 + 0.2, "0.30000000000000004"}, FloatCase{1.0 / 3, "0.3333333333333333"},
        FloatCase{123.456, "123.456"}, FloatCase{1e15, "1000000000000000.0"},
        FloatCase{1e15 + 0.5, "1000000000000000.5"}, FloatCase{9007199254740992.0, "9007199254740992.0"},
        FloatCase{std::nextafter(1e16, 0.0), "9999999999999998.0"}, FloatCase{1e16, "1e+16"},
        FloatCase{-1e16, "-1e+16"}, FloatCase{9223372036854775808.0, "9.223372036854776e+18"},
        FloatCase{1e20, "1e+20"}, FloatCase{6.02214076e23, "6.02214076e+23"},
        FloatCase{1.7976931348623157e308, "1.7976931348623157e+308"}, FloatCase{0.0001, "0.0001"},
        FloatCase{1.5e-5, "0.000015"}, FloatCase{1e-6, "1e-6"}, FloatCase{1.5e-6, "1.5e-6"},
        FloatCase{1e-10, "1e-10"}, FloatCase{2.2250738585072014e-308, "2.2250738585072014e-308"}));

INSTANTIATE_TEST_SUITE_P(
    LayoutEdges, FloatLayout,
    testing::Values(
        FloatCase{0.0, "0.0"}, FloatCase{-0.0, "-0.0"}, FloatCase{1.0, "1.0"}, FloatCase{3.0, "3.0"},
        FloatCase{-12.5, "-12.5"}, FloatCase{100.0, "100.0"}, FloatCase{12.34, "12.34"},
        FloatCase{999999999999999.9, "999999999999999.9"}, FloatCase{0.5, "0.5"}, FloatCase{0.00001, "0.00001"},
        FloatCase{0.001234, "0.001234"}, FloatCase{0.000012345678901234567, "0.000012345678901234568"},
        FloatCase{1.5e300, "1.5e+300"}, FloatCase{1e-7, "1e-7"}, FloatCase{1e100, "1e+100"},
        FloatCase{1.2345e-100, "1.2345e-100"}, FloatCase{5e-324, "5e-324"}, FloatCase{-5e-324, "-5e-324"},
        FloatCase{1e-323, "1e-323"}, FloatCase{1e23, "1e+23"}, FloatCase{1234567890123456.0, "1234567890123456.0"},
        FloatCase{12345678901234567.0, "1.2345678901234568e+16"}, FloatCase{-1.7976931348623157e308,
                                                                          "-1.7976931348623157e+308"},
        // 17 digits and the point: the longest plain text
        FloatCase{-0.00012345678901234567, "-0.00012345678901234567"}));

// MARK: - Integers

struct UnsignedCase {
  uint64_t value;
  const char* text;
};

class UnsignedText : public testing::TestWithParam<UnsignedCase> {};

TEST_P(UnsignedText, WritesPlainDecimal) {
  const auto& [value, text] = GetParam();
  char scratch[kIntegerScratch];
  EXPECT_EQ(write_u64(value, scratch), text);
  EXPECT_EQ(text_of(Value::non_negative(value)), text);
}

// Every digit count, and both sides of every eight-digit chunk boundary.
INSTANTIATE_TEST_SUITE_P(
    Boundaries, UnsignedText,
    testing::Values(UnsignedCase{0, "0"}, UnsignedCase{7, "7"}, UnsignedCase{10, "10"}, UnsignedCase{99, "99"},
                    UnsignedCase{100, "100"}, UnsignedCase{1000, "1000"}, UnsignedCase{99999999, "99999999"},
                    UnsignedCase{100000000, "100000000"}, UnsignedCase{100000001, "100000001"},
                    UnsignedCase{9999999999999999, "9999999999999999"},
                    UnsignedCase{10000000000000000, "10000000000000000"},
                    UnsignedCase{10000000000000007, "10000000000000007"},
                    UnsignedCase{12345678901234567890u, "12345678901234567890"},
                    UnsignedCase{std::numeric_limits<uint64_t>::max(), "18446744073709551615"}));

struct SignedCase {
  int64_t value;
  const char* text;
};

class SignedText : public testing::TestWithParam<SignedCase> {};

TEST_P(SignedText, WritesSignAndMagnitude) {
  const auto& [value, text] = GetParam();
  char scratch[kIntegerScratch];
  EXPECT_EQ(write_i64(value, scratch), text);
  if (value < 0) {
    EXPECT_EQ(text_of(Value::negative(value)), text);
  }
}

INSTANTIATE_TEST_SUITE_P(Boundaries, SignedText,
                         testing::Values(SignedCase{0, "0"}, SignedCase{42, "42"}, SignedCase{-1, "-1"},
                                         SignedCase{-10, "-10"}, SignedCase{-100000000, "-100000000"},
                                         SignedCase{std::numeric_limits<int64_t>::max(), "9223372036854775807"},
                                         SignedCase{-9223372036854775807, "-9223372036854775807"},
                                         SignedCase{std::numeric_limits<int64_t>::min(),
                                                    "-9223372036854775808"}));

TEST(WriteIntegers, AgreeWithToCharsOnRandomValues) {
  std::mt19937_64 random(20261209);
  for (int i = 0; i < 100000; ++i) {
    // Random bit lengths, so that every digit count is well represented.
    const uint64_t u = random() >> (random() % 64);
    char expected[24];
    char scratch[kIntegerScratch];
    ASSERT_EQ(write_u64(u, scratch), std::string_view(expected, std::to_chars(expected, expected + 24, u).ptr));
    const int64_t s = static_cast<int64_t>(random()) >> (random() % 64);
    ASSERT_EQ(write_i64(s, scratch), std::string_view(expected, std::to_chars(expected, expected + 24, s).ptr));
  }
}

// VORNEL_LONG_TESTS=1: every value below 10^8, i.e. every input of the
// eight-digit step, whose fixed-point pairs rest on an error bound.
TEST(WriteIntegers, EveryValueBelowHundredMillion) {
  const char* enabled = std::getenv("VORNEL_LONG_TESTS");
  if (enabled == nullptr || std::string(enabled) != "1") GTEST_SKIP() << "set VORNEL_LONG_TESTS=1";
  char scratch[kIntegerScratch];
  char expected[24];
  for (uint64_t n = 0; n < 100000000; ++n) {
    const std::string_view text = write_u64(n, scratch);
    const std::string_view reference(expected, std::to_chars(expected, expected + 24, n).ptr);
    if (text != reference) FAIL() << n << ": " << text;
  }
}

// MARK: - Strings

// The escaping rules, one byte at a time, as the reference for the fast scan.
std::string reference_escape(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += "0123456789abcdef"[c >> 4];
          out += "0123456789abcdef"[c & 0xf];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

struct EscapeCase {
  std::string_view input;
  const char* text;
};

class StringEscape : public testing::TestWithParam<EscapeCase> {};

TEST_P(StringEscape, WritesExactText) {
  const auto& [input, text] = GetParam();
  EXPECT_EQ(string_text(input), text);
  EXPECT_EQ(text_of(Value::string(arena, input)), text);
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    Cases, StringEscape,
    testing::Values(
        EscapeCase{"", R"("")"}, EscapeCase{"plain", R"("plain")"},
        EscapeCase{"\b\t\n\f\r", R"("\b\t\n\f\r")"},
        EscapeCase{"\x01\x0b\x1f", R"("\u0001\u000b\u001f")"},
        EscapeCase{"\"\\/\x7f", "\"\\\"\\\\/\x7f\""},
        EscapeCase{"a\0b"sv, R"("a\u0000b")"}, EscapeCase{"\0\0"sv, R"("\u0000\u0000")"},
        // Multi-byte UTF-8 (2, 3 and 4 bytes) passes through as raw bytes.
        EscapeCase{"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\""},
        // Bytes next to the escaped ones must not be caught by the word test.
        EscapeCase{" !#[]^_`~\x7f\x80\xff  ", "\" !#[]^_`~\x7f\x80\xff  \""},
        EscapeCase{"0123456789abcdef\"", R"("0123456789abcdef\"")"}));

TEST(SerializeStr, EveryByteAsValueAndKey) {
  for (int byte = 0; byte < 256; ++byte) {
    // Inside a run long enough for the word-at-a-time path, and alone.
    for (const std::string& s : {std::string(1, static_cast<char>(byte)),
                                 "abcdefghij" + std::string(1, static_cast<char>(byte)) + "klmnopqrstu"}) {
      const std::string expected = reference_escape(s);
      Map map(arena);
      map.insert_full(String(arena, s), Value::string(arena, s));
      EXPECT_EQ(text_of(Value::object(arena, std::move(map))), "{" + expected + ":" + expected + "}") << byte;
    }
  }
}

TEST(SerializeStr, ShortFormsForExactlyFiveControlBytes) {
  std::string all;
  for (int byte = 0; byte < 0x20; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(string_text(all),
            R"("\u0000\u0001\u0002\u0003\u0004\u0005\u0006\u0007\b\t\n\u000b\f\r\u000e\u000f)"
            R"(\u0010\u0011\u0012\u0013\u0014\u0015\u0016\u0017\u0018\u0019\u001a\u001b\u001c\u001d\u001e\u001f")");
}

TEST(SerializeStr, MatchesByteByByteRulesOnRandomText) {
  // Alphabets that put escapes at every offset of a word, at word ends, and
  // side by side with their numeric neighbours; buffers that start empty,
  // moved-from (no storage) or nearly full, so that escapes force growth at
  // every point of the scan.
  const std::string alphabet = std::string("\"\\\x1f\x20\x21\x00\x01\x5b\x5d\x7f\x80\xff", 12) + "abcxyz";
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const size_t length = random() % 40;
    const int escapes_per_thousand = static_cast<int>(random() % 1001);
    std::string s;
    for (size_t j = 0; j < length; ++j) {
      s += (static_cast<int>(random() % 1000) < escapes_per_thousand) ? alphabet[random() % alphabet.size()]
                                                                      : static_cast<char>('a' + random() % 26);
    }
    ByteBuffer out;
    const size_t prefill = random() % 3 == 0 ? 0 : random() % 140;
    if (prefill == 0) {
      ByteBuffer drained(std::move(out));
    } else {
      out.append(std::string(prefill, '.'));
    }
    serialize_str(s, out);
    ASSERT_EQ(out.view().substr(prefill), reference_escape(s)) << "case " << i;
  }
}

// MARK: - Structure

Value array_of(std::vector<Value> elements) { return Value::array(arena, elements); }

Value object_of(std::vector<std::pair<std::string_view, Value>> members) {
  Map map(arena);
  for (auto& [key, value] : members) map.insert_full(String(arena, key), std::move(value));
  return Value::object(arena, std::move(map));
}

TEST(WriteValue, Structures) {
  EXPECT_EQ(text_of(Value()), "null");
  EXPECT_EQ(text_of(Value::boolean(true)), "true");
  EXPECT_EQ(text_of(Value::boolean(false)), "false");
  EXPECT_EQ(text_of(array_of({})), "[]");
  EXPECT_EQ(text_of(object_of({})), "{}");
  {
    std::vector<Value> inner;
    inner.push_back(array_of({}));
    EXPECT_EQ(text_of(array_of(std::move(inner))), "[[]]");
  }
  {
    std::vector<std::pair<std::string_view, Value>> members;
    members.emplace_back("a", object_of({}));
    EXPECT_EQ(text_of(object_of(std::move(members))), R"({"a":{}})");
  }
  {
    std::vector<std::pair<std::string_view, Value>> members;
    members.emplace_back("b", Value::non_negative(1));
    members.emplace_back("a", Value::floating(1.0));
    members.emplace_back("k\"ey", Value::negative(-2));
    EXPECT_EQ(text_of(object_of(std::move(members))), R"({"b":1,"a":1.0,"k\"ey":-2})");
  }
  {
    std::vector<Value> mixed;
    mixed.push_back(Value());
    mixed.push_back(Value::boolean(false));
    mixed.push_back(Value::string(arena, "x"));
    mixed.push_back(Value::floating(-0.0));
    mixed.push_back(Value::non_negative(0));
    EXPECT_EQ(text_of(array_of(std::move(mixed))), R"([null,false,"x",-0.0,0])");
  }
}

TEST(WriteValue, NestingDepth127) {
  Value value = Value::non_negative(1);
  std::string expected = "1";
  for (int depth = 1; depth <= 127; ++depth) {
    if (depth % 2 == 0) {
      std::vector<Value> one;
      one.push_back(std::move(value));
      value = array_of(std::move(one));
      expected = "[" + expected + "]";
    } else {
      std::vector<std::pair<std::string_view, Value>> one;
      one.emplace_back("k", std::move(value));
      value = object_of(std::move(one));
      expected = "{\"k\":" + expected + "}";
    }
  }
  EXPECT_EQ(text_of(value), expected);
}

// MARK: - Byte buffer

TEST(ByteBuffer, GrowthBeyondTheLargestSizeIsCapacityOverflow) {
  ByteBuffer out;
  out.append("abc", 3);
  for (size_t more : {std::numeric_limits<size_t>::max(), std::numeric_limits<size_t>::max() - 2,
                      static_cast<size_t>(std::numeric_limits<ptrdiff_t>::max())}) {
    try {
      out.reserve_more(more);
      ADD_FAILURE() << "no exception for " << more;
    } catch (const std::length_error& error) {
      EXPECT_STREQ(error.what(), "capacity overflow");
    }
  }
  EXPECT_EQ(out.view(), "abc");  // unchanged
}

}  // namespace
}  // namespace vornel::json
