// UTF-8 as RFC 3629 defines it: no overlong forms, no encoded surrogates,
// nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <type_traits>

#include "json/scan.h"
#include "json/utf8_avx2.h"

namespace vornel::json {

namespace utf8_detail {
inline bool is_continuation(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
}  // namespace utf8_detail

// `p` points at a byte of 0x80 or above: the end of the well-formed
// multi-byte sequence it starts, or nullptr when it starts none.
inline const char* skip_multibyte_sequence(const char* p, const char* end) noexcept {
  using utf8_detail::is_continuation;
  const auto c = static_cast<unsigned char>(p[0]);
  const auto left = end - p;
  if (c < 0xC2) return nullptr;  // a continuation byte, or an overlong 2-byte lead
  if (c < 0xE0) return left >= 2 && is_continuation(p[1]) ? p + 2 : nullptr;
  if (c < 0xF0) {
    if (left < 3) return nullptr;
    const auto c1 = static_cast<unsigned char>(p[1]);
    const unsigned low = c == 0xE0 ? 0xA0 : 0x80;   // overlong below
    const unsigned high = c == 0xED ? 0x9F : 0xBF;  // surrogates above
    return c1 >= low && c1 <= high && is_continuation(p[2]) ? p + 3 : nullptr;
  }
  if (c < 0xF5) {
    if (left < 4) return nullptr;
    const auto c1 = static_cast<unsigned char>(p[1]);
    const unsigned low = c == 0xF0 ? 0x90 : 0x80;   // overlong below
    const unsigned high = c == 0xF4 ? 0x8F : 0xBF;  // beyond U+10FFFF above
    return c1 >= low && c1 <= high && is_continuation(p[2]) && is_continuation(p[3]) ? p + 4 : nullptr;
  }
  return nullptr;
}

// Whether [p, end) is well-formed UTF-8; runs of ASCII are skipped as many
// bytes at a time as `Scan` takes. With AVX2, texts of a block or more are
// checked 32 bytes at a time whatever they hold: a long text in a script
// other than Latin is mostly multi-byte sequences.
template <class Scan>
bool is_valid_utf8(const char* p, const char* end) noexcept {
#if defined(__x86_64__)
  if constexpr (std::is_same_v<Scan, scan::Avx2Scan>) {
    if (end - p >= 32) return utf8_avx2::is_valid(p, end);
  }
#endif
  for (;;) {
    p = Scan::skip_ascii(p, end);
    if (p == end) return true;
    p = skip_multibyte_sequence(p, end);
    if (p == nullptr) return false;
  }
}

inline bool is_valid_utf8(const char* text, size_t size) noexcept {
  return is_valid_utf8<scan::WordScan>(text, text + size);
}

// The UTF-8 bytes of code point `cp` (at most U+10FFFF, not a surrogate),
// written at `out`, which has room for four; returns how many.
unsigned encode_utf8(uint32_t cp, char* out) noexcept;

// Appends the UTF-8 bytes of code point `cp`.
void append_utf8(std::string& out, uint32_t cp);

}  // namespace vornel::json
