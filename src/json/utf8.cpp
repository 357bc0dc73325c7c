#include "json/utf8.h"

#include "json/scan.h"

namespace vornel::json {
namespace {
inline bool is_continuation(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
}  // namespace

// Runs of ASCII are skipped a word at a time.
bool is_valid_utf8(const char* s, size_t n) noexcept {
  size_t i = 0;
  for (;;) {
    while (n - i >= 8 && (scan::load_le64(s + i) & scan::kHighBits) == 0) i += 8;
    if (i == n) return true;
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c < 0xC2) return false;  // a continuation byte, or an overlong 2-byte lead
    if (c < 0xE0) {
      if (n - i < 2 || !is_continuation(s[i + 1])) return false;
      i += 2;
    } else if (c < 0xF0) {
      if (n - i < 3) return false;
      const auto c1 = static_cast<unsigned char>(s[i + 1]);
      const unsigned low = c == 0xE0 ? 0xA0 : 0x80;   // overlong below
      const unsigned high = c == 0xED ? 0x9F : 0xBF;  // surrogates above
      if (c1 < low || c1 > high || !is_continuation(s[i + 2])) return false;
      i += 3;
    } else if (c < 0xF5) {
      if (n - i < 4) return false;
      const auto c1 = static_cast<unsigned char>(s[i + 1]);
      const unsigned low = c == 0xF0 ? 0x90 : 0x80;   // overlong below
      const unsigned high = c == 0xF4 ? 0x8F : 0xBF;  // beyond U+10FFFF above
      if (c1 < low || c1 > high || !is_continuation(s[i + 2]) || !is_continuation(s[i + 3])) return false;
      i += 4;
    } else {
      return false;
    }
  }
}

void append_utf8(std::string& out, uint32_t cp) {
  char bytes[4];
  size_t len;
  if (cp < 0x80) {
    bytes[0] = static_cast<char>(cp);
    len = 1;
  } else if (cp < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
    bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
    len = 2;
  } else if (cp < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
    len = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
    len = 4;
  }
  out.append(bytes, len);
}

}  // namespace vornel::json
