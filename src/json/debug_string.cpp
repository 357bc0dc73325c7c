#include "json/debug_string.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <utility>

#include "json/unicode_tables.h"
#include "json/utf8.h"

namespace vornel::json {
namespace {

template <size_t N>
bool in_table(const unicode::CodePointRange (&table)[N], uint32_t cp) noexcept {
  const auto* after = std::upper_bound(std::begin(table), std::end(table), cp,
                                       [](uint32_t c, const unicode::CodePointRange& r) { return c < r.first; });
  return after != std::begin(table) && cp <= (after - 1)->last;
}

// Whether a character other than the ones with short escapes, printable ASCII
// and U+FF9E/U+FF9F is written as \u{hex}; the tests run in this order.
bool escaped_in_debug_form(uint32_t cp) noexcept {
  if (cp <= 0x1F || (cp >= 0x7F && cp <= 0x9F)) return true;
  if ((cp >= 0xE000 && cp <= 0xF8FF) || (cp >= 0xF0000 && cp <= 0xFFFFD) || (cp >= 0x100000 && cp <= 0x10FFFD)) {
    return true;
  }
  if (cp >= 0x85 && in_table(unicode::kWhiteSpace, cp)) return true;
  if (cp >= 0x300 && in_table(unicode::kGraphemeExtend, cp)) return true;
  if (cp >= 0xAD && (in_table(unicode::kDefaultIgnorable, cp) || in_table(unicode::kFormat, cp))) return true;
  return !in_table(unicode::kAssigned, cp);
}

// Decodes one character at s[i]; a byte that does not start a well-formed
// sequence decodes as U+FFFD on its own. Returns the code point and its length.
std::pair<uint32_t, size_t> decode_utf8(std::string_view s, size_t i) noexcept {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return {c, 1};
  size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  if (c >= 0xC2 && c < 0xF5 && s.size() - i >= len && is_valid_utf8(s.data() + i, len)) {
    uint32_t cp = c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return {cp, len};
  }
  return {0xFFFD, 1};
}

}  // namespace

std::string debug_string(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out.push_back('"');
  for (size_t i = 0; i < utf8.size();) {
    const auto [cp, len] = decode_utf8(utf8, i);
    const std::string_view bytes = utf8.substr(i, len);
    i += len;
    switch (cp) {
      case 0x00:
        out += "\\0";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      default:
        break;
    }
    if ((cp >= 0x20 && cp <= 0x7E) || cp == 0xFF9E || cp == 0xFF9F || !escaped_in_debug_form(cp)) {
      if (cp == 0xFFFD && bytes.size() == 1) {
        append_utf8(out, cp);  // an invalid byte stands for U+FFFD
      } else {
        out += bytes;
      }
      continue;
    }
    char hex[8];
    const auto [end, ec] = std::to_chars(hex, hex + sizeof hex, cp, 16);
    (void)ec;
    out += "\\u{";
    out.append(hex, end);
    out += '}';
  }
  out.push_back('"');
  return out;
}

}  // namespace vornel::json
