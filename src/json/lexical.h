// The pieces of JSON's lexical grammar that every walker of JSON text in
// this library shares: the document reader, the engine's value scanner and
// the decoding of keys. Byte classes, string escapes, the surrogate pairs of
// \u escapes, and the nesting limit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornel::json {

// The most arrays and objects that may be open at once, the top-level array
// included: a row object and everything it holds nest at most 126 deep.
inline constexpr unsigned kMaxDepth = 127;

// Space, tab, line feed, carriage return: a four-member test as one mask.
inline bool is_whitespace(char c) noexcept {
  const auto b = static_cast<unsigned char>(c);
  return b <= 0x20 && ((uint64_t{0x100002600} >> b) & 1) != 0;
}

inline bool is_digit(char c) noexcept { return static_cast<unsigned char>(c - '0') <= 9; }

// The bytes a JSON string cannot hold raw: '"', '\\' and the controls.
inline bool is_string_stop(char c) noexcept {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x20 || b == '"' || b == '\\';
}

// The escapes of a backslash and one letter that stand for a byte the
// writer must escape, as (letter, byte): the writer writes these bytes so.
inline constexpr std::array<std::array<char, 2>, 7> kShortEscapes = {
    {{'"', '"'}, {'\\', '\\'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'}}};

namespace lexical_detail {
inline constexpr std::array<int8_t, 256> kHexDigitValue = [] {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<int8_t>(c - 'A' + 10);
  return table;
}();

// What a backslash and this letter stand for, or -1 for a letter that
// makes no escape ('u' included: it takes four hex digits). "\/" stands for
// '/', which the writer writes as it is.
inline constexpr std::array<int8_t, 256> kSimpleEscape = [] {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (const auto& [letter, byte] : kShortEscapes) table[static_cast<unsigned char>(letter)] = byte;
  table['/'] = '/';
  return table;
}();
}  // namespace lexical_detail

// 0 to 15 for a hexadecimal digit of either case, -1 for any other byte.
inline int hex_digit_value(char c) noexcept { return lexical_detail::kHexDigitValue[static_cast<unsigned char>(c)]; }

// The value of four hexadecimal digits at `p`, or -1 when one of them is not
// a hexadecimal digit.
inline int hex4_value(const char* p) noexcept {
  const int a = hex_digit_value(p[0]), b = hex_digit_value(p[1]), c = hex_digit_value(p[2]), d = hex_digit_value(p[3]);
  return (a | b | c | d) < 0 ? -1 : (a << 12) | (b << 8) | (c << 4) | d;
}

// The byte a simple escape (backslash, then `letter`) stands for, or -1.
inline int simple_escape_value(char letter) noexcept {
  return lexical_detail::kSimpleEscape[static_cast<unsigned char>(letter)];
}

// A \u escape of a high surrogate must be followed by one of a low
// surrogate; together they name one code point above U+FFFF.
inline bool is_high_surrogate(uint32_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool is_low_surrogate(uint32_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }
inline uint32_t combine_surrogates(uint32_t high, uint32_t low) noexcept {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// One checked escape: its code point and its length in bytes. A high
// surrogate's escape counts with the low one that must follow it.
struct Escape {
  uint32_t code_point;
  unsigned length;
};

// The escape whose backslash is at `p`, if [p, end) begins with a valid one.
inline bool read_escape(const char* p, const char* end, Escape& out) noexcept {
  if (end - p < 2) return false;
  if (p[1] != 'u') {
    const int value = simple_escape_value(p[1]);
    out = {static_cast<uint32_t>(value), 2};
    return value >= 0;
  }
  if (end - p < 6) return false;
  const int unit = hex4_value(p + 2);
  if (unit < 0 || is_low_surrogate(static_cast<uint32_t>(unit))) return false;
  if (!is_high_surrogate(static_cast<uint32_t>(unit))) {
    out = {static_cast<uint32_t>(unit), 6};
    return true;
  }
  if (end - p < 12 || p[6] != '\\' || p[7] != 'u') return false;
  const int low = hex4_value(p + 8);
  if (low < 0 || !is_low_surrogate(static_cast<uint32_t>(low))) return false;
  out = {combine_surrogates(static_cast<uint32_t>(unit), static_cast<uint32_t>(low)), 12};
  return true;
}

// Appends the decoded content of a string (without its quotes) whose
// escapes have all been checked.
void decode_string_content(std::string_view content, std::string& out);

}  // namespace vornel::json
