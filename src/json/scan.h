// Scanning primitives: a machine word or a vector register of input bytes at
// a time.
//
// Eight bytes are loaded as one little-endian word, so that the first byte in
// memory is the lowest-order byte whatever the machine's byte order; the
// first flagged byte of a word is then found from its lowest set bit. The
// vector scanners do the same with a movemask, whose bit i is byte i.
//
// Three scanners share one shape, so that the row reader can be compiled for
// each: `WordScan` (portable, eight bytes at a time), `Sse2Scan` (16 bytes;
// every x86-64 CPU has SSE2) and `Avx2Scan` (32 bytes; chosen at run time).
// Each offers:
//   find_string_stop(p, end, non_ascii): the first '"', '\\' or control byte
//     at or after p (or end), OR-ing into `non_ascii` whether any byte before
//     it is 0x80 or above;
//   skip_whitespace(p, end): the first byte at or after p that is not space,
//     tab, line feed or carriage return (or end);
//   skip_ascii(p, end): the first byte at or after p that is 0x80 or above
//     (for the AVX2 scanner, in texts shorter than its block).
// None of them reads beyond `end`: the last partial block goes byte by byte.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "json/lexical.h"

namespace vornel::json::scan {

inline constexpr uint64_t kEveryByte = 0x0101010101010101;
inline constexpr uint64_t kHighBits = 0x8080808080808080;

// Eight bytes at `p`, the first in the lowest-order position.
inline uint64_t load_le64(const void* p) noexcept {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The high bit of each byte of `word` that ends a run of plain string text:
// '"', '\\' or a byte below 0x20, the bytes a JSON string cannot hold raw and
// the writer must escape. A borrow can also raise the flag of a byte above a
// flagged one, never below, so the lowest flag is always exact. The three
// tests are the classic "has a byte less than n" form: (x - n*ones) & ~x &
// highs flags the bytes below n that have the high bit clear.
inline uint64_t string_stop_flags(uint64_t word) noexcept {
  const uint64_t quote = word ^ (kEveryByte * '"');
  const uint64_t backslash = word ^ (kEveryByte * '\\');
  const uint64_t flagged =
      ((quote - kEveryByte) & ~quote) | ((backslash - kEveryByte) & ~backslash) | ((word - kEveryByte * 0x20) & ~word);
  return flagged & kHighBits;
}

// The index of the first flagged byte of a non-zero flag word.
inline unsigned first_flagged_byte(uint64_t flags) noexcept { return static_cast<unsigned>(std::countr_zero(flags)) >> 3; }

// The first byte at or after p that is not an ASCII digit (or end), eight
// bytes at a time: ids, timestamps and long fractions make digit runs of 10
// to 20 bytes. With t = byte ^ '0', digits are exactly the bytes with t < 10:
// t + 0x76 sets the high bit for t >= 10, and t's own high bit for the rest.
// A carry out of a byte reaches only the bytes above it, which lie after a
// byte that is already flagged.
inline const char* skip_digits(const char* p, const char* end) noexcept {
  for (; end - p >= 8; p += 8) {
    const uint64_t t = load_le64(p) ^ (kEveryByte * '0');
    const uint64_t stops = ((t + kEveryByte * 0x76) | t) & kHighBits;
    if (stops != 0) return p + first_flagged_byte(stops);
  }
  while (p != end && is_digit(*p)) ++p;
  return p;
}

// The scalar tails every scanner ends with.
inline const char* find_string_stop_bytewise(const char* p, const char* end, bool& non_ascii) noexcept {
  for (; p != end && !is_string_stop(*p); ++p) non_ascii |= static_cast<unsigned char>(*p) >= 0x80;
  return p;
}
inline const char* skip_whitespace_bytewise(const char* p, const char* end) noexcept {
  while (p != end && is_whitespace(*p)) ++p;
  return p;
}
inline const char* skip_ascii_bytewise(const char* p, const char* end) noexcept {
  while (p != end && static_cast<unsigned char>(*p) < 0x80) ++p;
  return p;
}

struct WordScan {
  static const char* find_string_stop(const char* p, const char* end, bool& non_ascii) noexcept {
    for (; end - p >= 8; p += 8) {
      const uint64_t word = load_le64(p);
      const uint64_t flags = string_stop_flags(word);
      if (flags != 0) {
        // Only the bytes before the stop count; bytes above it may be flagged
        // by a borrow, but a high bit there is real input all the same.
        const unsigned stop = first_flagged_byte(flags);
        non_ascii |= (word & kHighBits & ((uint64_t{1} << (8 * stop)) - 1)) != 0;
        return p + stop;
      }
      non_ascii |= (word & kHighBits) != 0;
    }
    return find_string_stop_bytewise(p, end, non_ascii);
  }
  static const char* skip_whitespace(const char* p, const char* end) noexcept {
    return skip_whitespace_bytewise(p, end);
  }
  static const char* skip_ascii(const char* p, const char* end) noexcept {
    while (end - p >= 8 && (load_le64(p) & kHighBits) == 0) p += 8;
    return skip_ascii_bytewise(p, end);
  }
};

#if defined(__x86_64__)

// The bit of each byte of `bytes` that is below 0x20: max(b, 0x1F) == 0x1F
// exactly for those, with unsigned bytes.
inline int control_mask(__m128i bytes) noexcept {
  const __m128i limit = _mm_set1_epi8(0x1F);
  return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(bytes, limit), limit));
}

struct Sse2Scan {
  static const char* find_string_stop(const char* p, const char* end, bool& non_ascii) noexcept {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; end - p >= 16; p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const int high = _mm_movemask_epi8(bytes);
      const int stops = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash))) |
                        control_mask(bytes);
      if (stops != 0) {
        const int stop = std::countr_zero(static_cast<unsigned>(stops));
        non_ascii |= (high & ((1 << stop) - 1)) != 0;
        return p + stop;
      }
      non_ascii |= high != 0;
    }
    return find_string_stop_bytewise(p, end, non_ascii);
  }
  static const char* skip_whitespace(const char* p, const char* end) noexcept {
    for (; end - p >= 16; p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i space = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')));
      const __m128i other = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
      const unsigned rest = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(space, other))) & 0xFFFF;
      if (rest != 0) return p + std::countr_zero(rest);
    }
    return skip_whitespace_bytewise(p, end);
  }
  static const char* skip_ascii(const char* p, const char* end) noexcept {
    for (; end - p >= 16; p += 16) {
      const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
      if (high != 0) return p + std::countr_zero(static_cast<unsigned>(high));
    }
    return skip_ascii_bytewise(p, end);
  }
};

// Compiled for AVX2 whatever the build's baseline: only code that has checked
// the CPU (see the row reader's dispatch) may call it.
struct Avx2Scan {
  [[gnu::target("avx2"), gnu::noinline]] static const char* find_string_stop(const char* p, const char* end, bool& non_ascii) noexcept {
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i limit = _mm256_set1_epi8(0x1F);
    for (; end - p >= 32; p += 32) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const auto high = static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
      const __m256i control = _mm256_cmpeq_epi8(_mm256_max_epu8(bytes, limit), limit);
      const __m256i stop_bytes =
          _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(bytes, quote), _mm256_cmpeq_epi8(bytes, backslash)), control);
      const auto stops = static_cast<uint32_t>(_mm256_movemask_epi8(stop_bytes));
      if (stops != 0) {
        const int stop = std::countr_zero(stops);
        non_ascii |= (high & ((uint32_t{1} << stop) - 1)) != 0;
        return p + stop;
      }
      non_ascii |= high != 0;
    }
    return Sse2Scan::find_string_stop(p, end, non_ascii);
  }
  [[gnu::target("avx2"), gnu::noinline]] static const char* skip_whitespace(const char* p, const char* end) noexcept {
    for (; end - p >= 32; p += 32) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i space =
          _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(' ')), _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\n')));
      const __m256i other =
          _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\t')), _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\r')));
      const uint32_t rest = ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(space, other)));
      if (rest != 0) return p + std::countr_zero(rest);
    }
    return Sse2Scan::skip_whitespace(p, end);
  }
  // Only texts shorter than a block come here: longer ones are checked as
  // UTF-8 a block at a time (utf8_avx2.h), ASCII runs included.
  static const char* skip_ascii(const char* p, const char* end) noexcept { return Sse2Scan::skip_ascii(p, end); }
};

#endif  // __x86_64__

}  // namespace vornel::json::scan
