// The streaming engine against the document path, on every scanner: the
// forms each value can take in a payload, and every conformance document as
// a cell of a row.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "fuzz_properties.h"

namespace vornel::fuzz {
namespace {

class EngineMatchesDocuments : public testing::TestWithParam<std::string> {};

TEST_P(EngineMatchesDocuments, OnEveryScanner) { EXPECT_TRUE(engine_matches_documents(GetParam())) << GetParam(); }

// Each payload takes a different branch of the row reader: values already
// in the writer's form, values it rewrites, repeated keys, and refusals.
INSTANTIATE_TEST_SUITE_P(
    Forms, EngineMatchesDocuments,
    testing::Values(
        // numbers: canonical, rewritten, at the integer limits, constants by double
        R"([{"a":1,"b":-2,"c":1.5,"d":1e-7,"e":1e+16,"f":0.0,"g":-0.0}])",
        R"([{"a":1.50,"b":1E2,"c":-0,"d":1e2,"e":0.1e1,"f":12345678901234567.0,"g":1e-400}])",
        R"([{"a":18446744073709551615,"b":18446744073709551616,"c":-9223372036854775808,"d":-9223372036854775809}])",
        R"([{"n":1},{"n":1.0},{"n":1e0}])", R"([{"n":-0},{"n":0},{"n":0.0}])",
        R"([{"n":9007199254740993},{"n":9007199254740992.0}])", R"([{"n":9007199254740993},{"n":9007199254740992}])",
        R"([{"n":1.0},{"n":1}])", R"([{"n":10e-1},{"n":1}])", R"([{"n":[1]},{"n":[1.0]}])",
        R"([{"n":[0.0]},{"n":[-0.0]}])", R"([{"n":1e400}])", R"([{"n":01}])",
        // floats of 16 and 17 digits: shortest or not, either side of the
        // plain layout's limits (10^15 and 10^-5), an integral value
        R"([{"a":0.30000000000000004,"b":0.29999999999999999,"c":-76.97085670593106,"d":0.000012345678901234567}])",
        R"([{"a":1234567890123456.7,"b":12345678901234567.5,"c":0.0000012345678901234567,"d":9007199254740993.0}])",
        // digit runs, read eight bytes at a time, ended by each neighbour of
        // the digits, at every place in a word, and by the end of the input
        R"([{"a":1234567,"b":123456789012345678901,"c":0.123456789e-12345678}])", R"([{"a":12345678/}])",
        R"([{"a":123456789:}])", R"([{"a":1.2345678901234:}])", R"([{"a":1e1234567/}])", "[{\"a\":12345678",
        // strings: the writer's escapes, others, surrogate pairs, invalid ones
        R"([{"s":"a\"\\\b\f\n\r\t\u0001\u001f"}])", R"([{"s":"\/\u0041\u00e9\u000a\u001F\ud83d\ude00"}])",
        R"([{"s":"\ud800"}])", R"([{"s":"\udc00"}])", R"([{"s":"\x"}])", "[{\"s\":\"\xff\"}]",
        "[{\"s\":\"caf\xc3\xa9 \xe6\x97\xa5\"}]", "[{\"s\":\"a\tb\"}]",
        // keys: escaped forms of one name are one column
        R"([{"a":1,"\u0061":2},{"\u0061":1,"b":2}])", R"([{"k\/":1},{"k/":2}])",
        // containers: compact, with whitespace, repeated keys, member order
        R"([{"o":{"p":1,"q":[2,3]}},{"o":{"q":[2,3],"p":1}}])", R"([{"o":{ "p" : 1 }},{"o":{"p":1}}])",
        R"([{"o":{"p":1,"p":2}},{"o":{"p":2}}])", R"([{"o":[1, 2]},{"o":[1,2]}])",
        R"([{"o":{"a":{"b":[{"c":null}]}}},{"o":{"a":{"b":[{"c":null}]}}}])",
        R"([{"o":{ "a" : [ 1.50 , "\u0041" , {"b":1, "b":2} ] , "a" : 1e2 }}])",
        R"([{"o":[ -0 , 1E2, 0.10, "\/", true , null , false , [ ] , { } ]}])",
        "[{\"o\" : {\n  \"x\": [\n    1,\n    \"caf\\u00e9\"\n  ]\n}}, {\"o\": {\"x\": [1, \"caf\u00e9\"]}}]",
        // rows: repeated keys, nulls, absent members, empty rows, whitespace
        R"([{"a":1,"b":2,"a":3}])", R"([{"a":1,"a":null},{"a":1}])", R"([{"a":null,"a":1},{"a":1}])",
        R"([{"a":null},{"b":null}])", R"([{},{}])", "[]", " [ { \"a\" : 1 } ,\n { \"a\" : 2 } ] ",
        R"([{"a":1},{"b":2},{"a":1,"b":2}])",
        // refusals
        "", "[", "[1]", "[{}, 2]", "[{\"a\":1},]", "[{\"a\" 1}]", "{}", "[] x", R"([{"a":tru}])", "[{\"a\":1}"));

// Random doubles in the texts other writers give them: shortest (as Python
// writes them), 16 and 17 significant digits (as printf's %.16g and %.17g
// do), in plain layout wherever the writer uses it too.
TEST(EngineMatchesDocuments, OnFloatTextsOfOtherWriters) {
  std::mt19937_64 rng(20261209);
  for (int k = 0; k < 3000; ++k) {
    const double magnitude = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 120) - 100);
    std::string payload = "[";
    for (const char* format : {"%.15f", "%.16g", "%.17g", "%.16f", "%.20f"}) {
      char text[400];
      std::snprintf(text, sizeof text, format, magnitude);
      payload += std::string(payload.size() > 1 ? "," : "") + "{\"f\":" + text + "}";
    }
    ASSERT_TRUE(engine_matches_documents(payload + "]")) << payload;
  }
}

// Strings of every length up to a few vector blocks, of multi-byte
// characters among ASCII, half of them with one broken sequence at a random
// place: cut short, overlong, a surrogate, beyond U+10FFFF, a stray
// continuation, or a byte of a good one changed.
TEST(EngineMatchesDocuments, OnMultiByteTextOfEveryLength) {
  const std::string characters[] = {"a",          "\\u00e9",         "\\\"",           "\xc3\xa9",
                                    "\xe6\x97\xa5", "\xf0\x9f\x98\x80", "\xed\x9f\xbf", "\xef\xbf\xbd"};
  const std::string broken[] = {"\xc3",         "\xe6\x97",         "\xf0\x9f\x98",     "\xc0\xaf",
                                "\xc1\xbf",     "\xe0\x80\xaf",     "\xe0\x9f\xbf",     "\xf0\x80\x80\xaf",
                                "\xf0\x8f\xbf\xbf", "\xed\xa0\x80",     "\xed\xbf\xbf",     "\xf4\x90\x80\x80",
                                "\xf5\x80\x80\x80", "\xff",             "\x80",             "\xc3\xa9\xa9"};
  std::mt19937_64 rng(20261210);
  for (int k = 0; k < 20000; ++k) {
    // Half the strings are mostly ASCII, so that whole blocks of it come
    // between multi-byte characters.
    const bool mostly_ascii = k % 2 == 0;
    std::string text;
    while (text.size() < static_cast<size_t>(k % 100)) {
      text += mostly_ascii && rng() % 8 != 0 ? "a" : characters[rng() % std::size(characters)];
    }
    if (k % 4 >= 2) {
      const size_t at = text.empty() ? 0 : rng() % (text.size() + 1);
      if (k % 8 >= 6 && at < text.size()) {
        text[at] = static_cast<char>(0x80 + rng() % 0x80);
      } else {
        text.insert(at, broken[rng() % std::size(broken)]);
      }
    }
    const std::string payload = "[{\"s\":\"" + text + "\"}]";
    ASSERT_TRUE(engine_matches_documents(payload)) << payload;
  }
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every conformance document, as it stands and as the value of a member.
TEST(EngineMatchesDocuments, OnTheConformanceSuite) {
  const std::filesystem::path suite = std::filesystem::path(VORNEL_FUZZ_REGRESSIONS) / "../../data/json-test-suite/test_parsing";
  size_t documents = 0;
  for (const auto& entry : std::filesystem::directory_iterator(suite)) {
    const std::string text = read_file(entry.path());
    EXPECT_TRUE(engine_matches_documents(text)) << entry.path();
    EXPECT_TRUE(engine_matches_documents("[{\"v\":" + text + "}]")) << entry.path();
    ++documents;
  }
  EXPECT_GT(documents, 300u);
}

}  // namespace
}  // namespace vornel::fuzz
