// Word-at-a-time scanning primitives shared by the reader and the writer.
//
// Eight bytes are loaded as one little-endian word, so that the first byte in
// memory is the lowest-order byte whatever the machine's byte order; the
// first flagged byte of a word is then found from its lowest set bit.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

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

}  // namespace vornel::json::scan
