#include "json/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "json/debug_string.h"
#include "json/writer.h"

namespace vornel::json {
namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes

Error read_error(std::string_view input) {
  Arena arena;
  auto result = read_value_list(input, arena);
  if (auto* values = std::get_if<std::vector<Value>>(&result)) {
    ADD_FAILURE() << "expected an error, read " << values->size() << " values from: " << input;
    return {};
  }
  return std::get<Error>(std::move(result));
}

// The compact text of the list that was read (as one array), or the error text.
std::string read_as_text(std::string_view input) {
  Arena arena;
  auto result = read_value_list(input, arena);
  if (auto* error = std::get_if<Error>(&result)) return "error: " + error->text();
  auto& values = std::get<std::vector<Value>>(result);
  return display_value(Value::array(arena, values));
}

// ---- Errors: exact message, line and column ------------------------------------

struct ErrorCase {
  std::string input;
  std::string message;
  uint64_t line;
  uint64_t column;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << testing::PrintToString(c.input); }

class ReaderErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(ReaderErrors, ReportMessageLineAndColumn) {
  const ErrorCase& c = GetParam();
  const Error error = read_error(c.input);
  EXPECT_EQ(error.message, c.message);
  EXPECT_EQ(error.line, c.line);
  EXPECT_EQ(error.column, c.column);
}

const std::string kControl = "control character (\\u0000-\\u001F) found while parsing a string";

INSTANTIATE_TEST_SUITE_P(
    Grammar, ReaderErrors,
    testing::Values(
        ErrorCase{"", "EOF while parsing a value", 1, 0}, ErrorCase{"  \n ", "EOF while parsing a value", 2, 1},
        ErrorCase{"[1,]", "trailing comma", 1, 4}, ErrorCase{"[1 2]", "expected `,` or `]`", 1, 4},
        ErrorCase{"[", "EOF while parsing a list", 1, 1}, ErrorCase{"[1,", "EOF while parsing a value", 1, 3},
        ErrorCase{"[1,,2]", "expected value", 1, 4}, ErrorCase{"[nul]", "expected ident", 1, 5},
        ErrorCase{"[tru", "EOF while parsing a value", 1, 4}, ErrorCase{"[f]", "expected ident", 1, 3},
        ErrorCase{"[truex]", "expected `,` or `]`", 1, 6}, ErrorCase{"[01]", "invalid number", 1, 3},
        ErrorCase{"[-]", "invalid number", 1, 3}, ErrorCase{"[-a]", "invalid number", 1, 3},
        ErrorCase{"[1.]", "invalid number", 1, 4}, ErrorCase{"[+1]", "expected value", 1, 2},
        ErrorCase{"[.5]", "expected value", 1, 2}, ErrorCase{"[1x]", "expected `,` or `]`", 1, 3},
        ErrorCase{"[1e400]", "number out of range", 1, 6},
        ErrorCase{"[1e99999999999]", "number out of range", 1, 13},
        ErrorCase{"[] x", "trailing characters", 1, 4}, ErrorCase{"[]]", "trailing characters", 1, 3},
        ErrorCase{"[1]\n\n x", "trailing characters", 3, 2}, ErrorCase{"[[", "EOF while parsing a list", 1, 2},
        ErrorCase{"[[]", "EOF while parsing a list", 1, 3}, ErrorCase{"[[],]", "trailing comma", 1, 5},
        ErrorCase{"[{1:2}]", "key must be a string", 1, 3},
        ErrorCase{"\xEF\xBB\xBF[]", "expected value", 1, 1},
        ErrorCase{"[\r\n1,\r\n]", "trailing comma", 3, 1}, ErrorCase{"]", "expected value", 1, 1},
        ErrorCase{"[1\x0c]", "expected `,` or `]`", 1, 3}, ErrorCase{"[\xC2\xA0]", "expected value", 1, 2},
        ErrorCase{"['a']", "expected value", 1, 2}, ErrorCase{"[\n\"a\"\n1]", "expected `,` or `]`", 3, 1},
        // Columns count bytes: the two-byte e-acute moves x to byte 8.
        ErrorCase{"[\n  \"\xC3\xA9\" x]", "expected `,` or `]`", 2, 8}));

INSTANTIATE_TEST_SUITE_P(
    Objects, ReaderErrors,
    testing::Values(ErrorCase{"[{", "EOF while parsing an object", 1, 2},
                    ErrorCase{"[{\"a\"", "EOF while parsing an object", 1, 5},
                    ErrorCase{"[{\"a\" 1}]", "expected `:`", 1, 7},
                    ErrorCase{"[{\"a\":}]", "expected value", 1, 7},
                    ErrorCase{"[{\"a\":1", "EOF while parsing an object", 1, 7},
                    ErrorCase{"[{\"a\":1 \"b\"}]", "expected `,` or `}`", 1, 9},
                    ErrorCase{"[{\"a\":1]", "expected `,` or `}`", 1, 8},
                    ErrorCase{"[{\"a\":1,}]", "trailing comma", 1, 9},
                    ErrorCase{"[{\"a\":1,2}]", "key must be a string", 1, 9},
                    ErrorCase{"[{\"a\":1,", "EOF while parsing a value", 1, 8},
                    ErrorCase{"[{\"a\":1}", "EOF while parsing a list", 1, 8},
                    ErrorCase{"[{,}]", "key must be a string", 1, 3},
                    // A duplicate key's discarded value must still be valid.
                    ErrorCase{"[{\"a\":1,\"a\":[}]", "expected value", 1, 14}));

INSTANTIATE_TEST_SUITE_P(
    Strings, ReaderErrors,
    testing::Values(
        ErrorCase{"[\"a\t", kControl, 1, 4}, ErrorCase{"[\"a\n", kControl, 2, 0},
        ErrorCase{"[\"a\0\"]"s, kControl, 1, 4}, ErrorCase{"[\"abc", "EOF while parsing a string", 1, 5},
        ErrorCase{"[\"\\", "EOF while parsing a string", 1, 3},
        ErrorCase{"[\"\\x\"]", "invalid escape", 1, 4}, ErrorCase{"[\"\\U0041\"]", "invalid escape", 1, 4},
        ErrorCase{"[\"\\u00", "EOF while parsing a string", 1, 6},
        // The four bytes are taken before they are tested: the quote goes too.
        ErrorCase{"[\"\\u12\"]", "invalid escape", 1, 8}, ErrorCase{"[\"\\uG000\"]", "invalid escape", 1, 8},
        ErrorCase{"[\"\\uDC00\"]", "lone leading surrogate in hex escape", 1, 8},
        ErrorCase{"[\"\\uD800\"]", "unexpected end of hex escape", 1, 9},
        ErrorCase{"[\"\\uD800\\x\"]", "unexpected end of hex escape", 1, 10},
        ErrorCase{"[\"\\uD800", "EOF while parsing a string", 1, 8},
        ErrorCase{"[\"\\uD800\\", "EOF while parsing a string", 1, 9},
        ErrorCase{"[\"\\uD800\\u12", "EOF while parsing a string", 1, 12},
        ErrorCase{"[\"\\uD800\\u12x\"]", "invalid escape", 1, 14},
        ErrorCase{"[\"\\uD800\\u0041\"]", "lone leading surrogate in hex escape", 1, 14},
        ErrorCase{"[\"\\uD800\\uDBFF\"]", "lone leading surrogate in hex escape", 1, 14},
        // UTF-8 is checked on the decoded bytes and reported at the closing quote.
        ErrorCase{"[\"\xFF\"]", "invalid unicode code point", 1, 4},
        ErrorCase{"[\"\x80\"]", "invalid unicode code point", 1, 4},
        ErrorCase{"[\"\xC0\x80\"]", "invalid unicode code point", 1, 5},
        ErrorCase{"[\"\xC1\xBF\"]", "invalid unicode code point", 1, 5},
        ErrorCase{"[\"\xE0\x9F\xBF\"]", "invalid unicode code point", 1, 6},
        ErrorCase{"[\"\xED\xA0\x80\"]", "invalid unicode code point", 1, 6},
        ErrorCase{"[\"\xF0\x8F\xBF\xBF\"]", "invalid unicode code point", 1, 7},
        ErrorCase{"[\"\xF4\x90\x80\x80\"]", "invalid unicode code point", 1, 7},
        ErrorCase{"[\"\xF5\x80\x80\x80\"]", "invalid unicode code point", 1, 7},
        ErrorCase{"[\"\xE2\x82\"]", "invalid unicode code point", 1, 5},
        ErrorCase{"[\"\xE2\x82\\n\"]", "invalid unicode code point", 1, 7},
        ErrorCase{"[\"ok\\n\xFF\"]", "invalid unicode code point", 1, 8},
        ErrorCase{"[{\"\xFF\":1}]", "invalid unicode code point", 1, 5}));

INSTANTIATE_TEST_SUITE_P(
    NotAnArray, ReaderErrors,
    testing::Values(
        ErrorCase{"null", "invalid type: null, expected a sequence", 1, 4},
        ErrorCase{"true", "invalid type: boolean `true`, expected a sequence", 1, 4},
        ErrorCase{"false ", "invalid type: boolean `false`, expected a sequence", 1, 5},
        ErrorCase{"12", "invalid type: integer `12`, expected a sequence", 1, 2},
        ErrorCase{"-5", "invalid type: integer `-5`, expected a sequence", 1, 2},
        ErrorCase{"18446744073709551615", "invalid type: integer `18446744073709551615`, expected a sequence", 1, 20},
        ErrorCase{"1.5", "invalid type: floating point `1.5`, expected a sequence", 1, 3},
        ErrorCase{"1e2", "invalid type: floating point `100.0`, expected a sequence", 1, 3},
        ErrorCase{"-0", "invalid type: floating point `-0.0`, expected a sequence", 1, 2},
        ErrorCase{"{}", "invalid type: map, expected a sequence", 1, 0},
        ErrorCase{"\n{}", "invalid type: map, expected a sequence", 2, 0},
        ErrorCase{"  {\"a\" garbage", "invalid type: map, expected a sequence", 1, 2},
        ErrorCase{"\"ab\"", "invalid type: string \"ab\", expected a sequence", 1, 4},
        ErrorCase{"\"a\\u00a0\\\"\" x", "invalid type: string \"a\\u{a0}\\\"\", expected a sequence", 1, 11},
        ErrorCase{"12 x", "invalid type: integer `12`, expected a sequence", 1, 2},
        ErrorCase{"x", "expected value", 1, 1}, ErrorCase{"nul", "EOF while parsing a value", 1, 3},
        ErrorCase{"trux", "expected ident", 1, 4}, ErrorCase{"-", "EOF while parsing a value", 1, 1},
        ErrorCase{"01", "invalid number", 1, 2}, ErrorCase{"1e999", "number out of range", 1, 5},
        ErrorCase{"\"abc", "EOF while parsing a string", 1, 4},
        ErrorCase{"\"\xFF\"", "invalid unicode code point", 1, 3}));

TEST(ReaderErrors, TextHasMessageThenLineAndColumn) {
  EXPECT_EQ(read_error("[1,]").text(), "trailing comma at line 1 column 4");
  EXPECT_EQ(read_error("\n\n[\"a\n").text(), kControl + " at line 4 column 0");
}

// Every code has a message of its own, and none falls back to the text that
// values past the last code get: the compiler sees that every code has a
// case, this that no two cases share a text and that the last code is last.
TEST(ReaderErrors, EveryCodeHasItsOwnMessage) {
  const auto past_last = static_cast<unsigned>(kLastErrorCode) + 1;
  const std::string_view fallback = message_of(static_cast<ErrorCode>(UINT8_MAX));
  EXPECT_EQ(message_of(static_cast<ErrorCode>(past_last)), fallback);
  std::set<std::string_view> seen;
  for (unsigned code = 0; code < past_last; ++code) {
    const std::string_view message = message_of(static_cast<ErrorCode>(code));
    EXPECT_NE(message, fallback) << "code " << code;
    EXPECT_TRUE(seen.insert(message).second) << "code " << code << " repeats \"" << message << '"';
  }
}

// ---- Nesting budget ------------------------------------------------------------

std::string nested(std::string_view open, int levels, std::string_view inner, std::string_view close) {
  std::string text;
  for (int k = 0; k < levels; ++k) text += open;
  text += inner;
  for (int k = 0; k < levels; ++k) text += close;
  return text;
}

TEST(ReaderDepth, HundredTwentySevenOpenArraysAndObjectsAreRead) {
  Arena arena;
  auto arrays = read_value_list(nested("[", 127, "", "]"), arena);
  ASSERT_TRUE(std::holds_alternative<std::vector<Value>>(arrays));
  const Value* v = &std::get<std::vector<Value>>(arrays).at(0);
  int depth = 1;
  while (!v->as_array().empty()) {
    v = &v->as_array()[0];
    ++depth;
  }
  EXPECT_EQ(depth, 126);

  EXPECT_TRUE(std::holds_alternative<std::vector<Value>>(
      read_value_list("[" + nested("{\"a\":", 126, "1", "}") + "]", arena)));
  // The budget is given back: siblings may each go the full depth.
  const std::string deep = nested("[", 126, "", "]");
  EXPECT_TRUE(std::holds_alternative<std::vector<Value>>(read_value_list("[" + deep + "," + deep + "]", arena)));
}

TEST(ReaderDepth, TheHundredTwentyEighthBracketFails) {
  const Error arrays = read_error(std::string(128, '['));
  EXPECT_EQ(arrays.text(), "recursion limit exceeded at line 1 column 128");
  const std::string mixed = "[" + nested("{\"a\":", 126, "[]", "}") + "]";
  const Error objects = read_error(mixed);
  EXPECT_EQ(objects.message, "recursion limit exceeded");
  EXPECT_EQ(objects.column, 1 + 126 * 5 + 1);
  const Error brace = read_error("[" + nested("{\"a\":", 126, "{}", "}") + "]");
  EXPECT_EQ(brace.column, 1 + 126 * 5 + 1);
}

// ---- Values that are read --------------------------------------------------------

struct ReadCase {
  std::string input;
  std::string compact;  // the writer's text of the list read
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << testing::PrintToString(c.input); }

class ReaderReads : public testing::TestWithParam<ReadCase> {};

TEST_P(ReaderReads, GivesTheseValues) { EXPECT_EQ(read_as_text(GetParam().input), GetParam().compact); }

INSTANTIATE_TEST_SUITE_P(
    Table, ReaderReads,
    testing::Values(
        ReadCase{"[]", "[]"}, ReadCase{" [ \t\r\n] \n", "[]"}, ReadCase{"[{}]", "[{}]"},
        ReadCase{"[1e-400,-1e-400]", "[0.0,-0.0]"}, ReadCase{"[null,true,false]", "[null,true,false]"},
        ReadCase{"[0,-0,1.0,-9223372036854775808]", "[0,-0.0,1.0,-9223372036854775808]"},
        ReadCase{"[{\"a\":1,\"b\":2,\"a\":3}]", "[{\"a\":3,\"b\":2}]"},
        ReadCase{"[{\"a\":{\"x\":1},\"a\":[]}]", "[{\"a\":[]}]"},
        ReadCase{"[\"\\u0000\"]", "[\"\\u0000\"]"},
        ReadCase{"[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"]", "[\"\\\"\\\\/\\b\\f\\n\\r\\t\"]"},
        ReadCase{"[\"\\u00e9\\u20AC\\uD83D\\uDE00\"]", "[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"]"},
        ReadCase{"[\"\x7F\xC2\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF\"]", "[\"\x7F\xC2\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF\"]"},
        ReadCase{"[[[1],[2,[3]]],{\"k\":[{\"m\":[]}]}]", "[[[1],[2,[3]]],{\"k\":[{\"m\":[]}]}]"}));

TEST(ReaderReads, SurrogatePairEscapeBecomesFourBytes) {
  Arena arena;
  auto result = read_value_list("[\"\\uD83D\\uDE00\"]", arena);
  ASSERT_TRUE(std::holds_alternative<std::vector<Value>>(result));
  EXPECT_EQ(std::get<std::vector<Value>>(result).at(0).as_string(), "\xF0\x9F\x98\x80");
}

TEST(ReaderReads, RepeatedKeysInLargeObjectsKeepFirstPositionAndLastValue) {
  std::string input = "[{";
  for (int k = 0; k < 12; ++k) input += "\"k" + std::to_string(k) + "\":" + std::to_string(k) + ",";
  input += "\"k3\":\"x\",\"k11\":null}]";
  Arena arena;
  auto result = read_value_list(input, arena);
  ASSERT_TRUE(std::holds_alternative<std::vector<Value>>(result));
  const Map& map = std::get<std::vector<Value>>(result).at(0).as_object();
  ASSERT_EQ(map.size(), 12u);
  EXPECT_EQ(map.members()[3].key.view(), "k3");
  EXPECT_EQ(map.members()[3].value.as_string(), "x");
  EXPECT_TRUE(map.members()[11].value.is_null());
}

// ---- Word-at-a-time string scanning ----------------------------------------------

// Content characters whose bytes sit next to the stop bytes ('"' 0x22, '\\'
// 0x5C, 0x1F/0x20) or differ from them only in the top bit, so that a
// mistaken flag in the word test shows up.
const std::vector<std::string> kTrickyCharacters = {
    "a", " ", "!", "#", "[", "]", "\x7F", "\xC2\xA2", "\xDC\x80", "\xC2\x9F", "\xE2\x80\xA0", "\xF0\x9F\x98\x80",
};

std::string tricky_content(size_t characters, size_t seed) {
  std::string out;
  for (size_t k = 0; k < characters; ++k) out += kTrickyCharacters[(k * 7 + seed) % kTrickyCharacters.size()];
  return out;
}

TEST(ReaderStrings, StopBytesAreFoundAtEveryOffsetAndAlignment) {
  for (size_t align = 0; align < 8; ++align) {
    const std::string lead(align, ' ');
    for (size_t chars = 0; chars < 40; ++chars) {
      const std::string content = tricky_content(chars, align);
      // The closing quote.
      Arena arena;
      const std::string plain_text = lead + "[\"" + content + "\"]";
      auto plain = read_value_list(plain_text, arena);
      ASSERT_TRUE(std::holds_alternative<std::vector<Value>>(plain)) << align << " " << chars;
      ASSERT_EQ(std::get<std::vector<Value>>(plain).at(0).as_string(), content);
      // A backslash, with more content after it.
      auto escaped = read_value_list(lead + "[\"" + content + "\\n" + content + "\"]", arena);
      ASSERT_TRUE(std::holds_alternative<std::vector<Value>>(escaped)) << align << " " << chars;
      ASSERT_EQ(std::get<std::vector<Value>>(escaped).at(0).as_string(), content + "\n" + content);
      // A control byte, reported at its own column.
      for (const char control : {'\x00', '\x1F'}) {
        const Error error = read_error(lead + "[\"" + content + control + content + "\"]");
        ASSERT_EQ(error.message, kControl);
        ASSERT_EQ(error.column, align + 2 + content.size() + 1) << align << " " << chars;
      }
      // An invalid byte, reported at the closing quote.
      const Error invalid = read_error(lead + "[\"" + content + "\xFF" + content + "\"]");
      ASSERT_EQ(invalid.message, "invalid unicode code point");
      ASSERT_EQ(invalid.column, align + 2 + 2 * content.size() + 2);
    }
  }
}

// ---- Cut documents ------------------------------------------------------------------

const char* const kDocuments[] = {
    R"([{"a":[1,-2.5e+3,true,false,null],"b\u00e9\"\ud83d\ude00":{"c":{}},"d":"x\ny"},0,-0.5E-2,[[]],"ü€𝄞"])",
    "[\n  {\"k\" : 12345678901234567890123 ,\r\n   \"m\":[ ] , \"n\": -0.0e+0},\n\t\"\\/\\\\\"\n]",
    "[1e5,0.25,{\"\":\"\"},[null],\"\\uDBFF\\uDFFF\"]",
};

TEST(ReaderCutDocuments, EveryPrefixFailsWithEofAtTheEnd) {
  for (std::string_view document : kDocuments) {
    Arena arena;
    ASSERT_TRUE(std::holds_alternative<std::vector<Value>>(read_value_list(document, arena))) << document;
    for (size_t cut = 0; cut < document.size(); ++cut) {
      const std::string_view prefix = document.substr(0, cut);
      const Error error = read_error(prefix);
      ASSERT_EQ(error.message.rfind("EOF while parsing ", 0), 0u) << error.text() << " for: " << prefix;
      const size_t last_line_feed = prefix.rfind('\n');
      const uint64_t lines = 1 + static_cast<uint64_t>(std::count(prefix.begin(), prefix.end(), '\n'));
      ASSERT_EQ(error.line, lines) << prefix;
      ASSERT_EQ(error.column, last_line_feed == prefix.npos ? cut : cut - last_line_feed - 1) << prefix;
    }
  }
}

// ---- Positions --------------------------------------------------------------------

TEST(ReaderPositions, LinesEndOnlyAtLineFeedsAndColumnsCountBytes) {
  struct Case {
    std::string_view input;
    size_t index;
    uint64_t line, column;
  };
  for (const Case& c : {Case{"", 0, 1, 0}, Case{"ab\ncd", 5, 2, 2}, Case{"ab\n", 3, 2, 0}, Case{"\n\n", 1, 2, 0},
                        Case{"a\r\nb", 4, 2, 1}, Case{"a\rb", 3, 1, 3}, Case{"\xC3\xA9x", 3, 1, 3},
                        Case{"ab\ncd", 99, 2, 2}}) {
    const Position at = position_of_index(c.input, c.index);
    EXPECT_EQ(at.line, c.line) << testing::PrintToString(c.input) << " @" << c.index;
    EXPECT_EQ(at.column, c.column) << testing::PrintToString(c.input) << " @" << c.index;
  }
}

// ---- Debug form of strings -----------------------------------------------------------

class DebugForm : public testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(DebugForm, EscapesExactlyTheListedCharacters) {
  EXPECT_EQ(debug_string(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DebugForm,
    testing::Values(std::pair{"ab"s, R"("ab")"s}, std::pair{"\0"s, R"("\0")"s},
                    std::pair{"\t\n\r"s, R"("\t\n\r")"s}, std::pair{"\"\\'"s, R"("\"\\'")"s},
                    std::pair{"\x01\x1F\x7F"s, R"("\u{1}\u{1f}\u{7f}")"s},
                    std::pair{"\xC2\x85\xC2\x9F\xC2\xA0"s, R"("\u{85}\u{9f}\u{a0}")"s},  // C1 controls, NBSP
                    std::pair{"\xC2\xAD\xC3\xA9"s, R"("\u{ad}é")"s},                    // soft hyphen (Cf)
                    std::pair{"e\xCC\x81\xCD\x8F"s, R"("e\u{301}\u{34f}")"s},           // combining marks
                    std::pair{"\xE2\x80\x8B\xE2\x80\xA8\xE3\x80\x80\xEF\xBB\xBF"s,
                              R"("\u{200b}\u{2028}\u{3000}\u{feff}")"s},
                    std::pair{"\xD8\x80\xE1\xA0\x8E"s, R"("\u{600}\u{180e}")"s},  // format characters
                    std::pair{"\xEE\x80\x80\xF3\xB0\x80\x80\xF4\x8F\xBF\xBD"s, R"("\u{e000}\u{f0000}\u{10fffd}")"s},
                    std::pair{"\xEF\xBE\x9E\xEF\xBE\x9F"s, "\"\xEF\xBE\x9E\xEF\xBE\x9F\""s},  // U+FF9E, U+FF9F
                    std::pair{"\xCD\xB8\xEF\xBF\xBF\xF3\xA0\x80\x81"s, R"("\u{378}\u{ffff}\u{e0001}")"s},
                    std::pair{"\xE4\xB8\x80\xF0\x9F\x98\x80\xE2\x82\xAC"s, "\"\xE4\xB8\x80\xF0\x9F\x98\x80\xE2\x82\xAC\""s}));

}  // namespace
}  // namespace vornel::json
