// UTF-8 validation 32 bytes at a time with AVX2, after Keiser and Lemire,
// "Validating UTF-8 In Less Than One Instruction Per Byte" (Software:
// Practice and Experience, 2021).
//
// Every error of a sequence shows in one pair of adjacent bytes, together
// with the high nibble of the second: three table lookups (the first byte's
// high and low nibble, the second byte's high nibble) each give the set of
// errors that nibble allows, and an error is present where all three agree.
// What one pair cannot tell, whether a continuation byte is the third or
// fourth of a sequence, comes from the bytes two and three places back.
//
// Compiled for AVX2 whatever the build's baseline: only the AVX2 scanner,
// which runs after checking the CPU, calls it.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstring>

namespace vornel::json::utf8_avx2 {

// The error classes, one bit each, named by the byte pair they describe.
inline constexpr char kTooShort = 1 << 0;      // a lead byte not followed by a continuation
inline constexpr char kTooLong = 1 << 1;       // ASCII followed by a continuation
inline constexpr char kOverlong3 = 1 << 2;     // E0 followed by 80..9F
inline constexpr char kTooLarge = 1 << 3;      // F4 followed by 90..BF, or F5..FF
inline constexpr char kSurrogate = 1 << 4;     // ED followed by A0..BF
inline constexpr char kOverlong2 = 1 << 5;     // C0 or C1
inline constexpr char kTooLarge1000 = 1 << 6;  // F5..FF followed by 80..8F
inline constexpr char kOverlong4 = 1 << 6;     // F0 followed by 80..8F
inline constexpr char kTwoContinuations = static_cast<char>(1 << 7);
inline constexpr char kCarry = kTooShort | kTooLong | kTwoContinuations;  // whatever the low nibble

// A 16-entry table in both lanes, for _mm256_shuffle_epi8.
[[gnu::target("avx2")]] inline __m256i table(char e0, char e1, char e2, char e3, char e4, char e5, char e6, char e7,
                                             char e8, char e9, char e10, char e11, char e12, char e13, char e14,
                                             char e15) noexcept {
  return _mm256_setr_epi8(e0, e1, e2, e3, e4, e5, e6, e7, e8, e9, e10, e11, e12, e13, e14, e15, e0, e1, e2, e3, e4,
                          e5, e6, e7, e8, e9, e10, e11, e12, e13, e14, e15);
}

[[gnu::target("avx2")]] inline __m256i high_nibbles(__m256i bytes) noexcept {
  return _mm256_and_si256(_mm256_srli_epi16(bytes, 4), _mm256_set1_epi8(0x0F));
}

// The bytes of `input` shifted `N` places later, the last `N` of `previous`
// coming in first.
template <int N>
[[gnu::target("avx2")]] inline __m256i bytes_before(__m256i input, __m256i previous) noexcept {
  return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - N);
}

// The errors of the block `input`, which follows `previous`.
[[gnu::target("avx2")]] inline __m256i block_errors(__m256i input, __m256i previous) noexcept {
  const __m256i previous1 = bytes_before<1>(input, previous);
  const __m256i first_high = _mm256_shuffle_epi8(
      table(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoContinuations,
            kTwoContinuations, kTwoContinuations, kTwoContinuations, kTooShort | kOverlong2, kTooShort,
            kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4),
      high_nibbles(previous1));
  constexpr char kLarge = kCarry | kTooLarge | kTooLarge1000;
  const __m256i first_low = _mm256_shuffle_epi8(
      table(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge,
            kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge | kSurrogate, kLarge, kLarge),
      _mm256_and_si256(previous1, _mm256_set1_epi8(0x0F)));
  constexpr char kContinuation = kTooLong | kOverlong2 | kTwoContinuations;
  const __m256i second_high = _mm256_shuffle_epi8(
      table(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
            kContinuation | kOverlong3 | kTooLarge1000 | kOverlong4, kContinuation | kOverlong3 | kTooLarge,
            kContinuation | kSurrogate | kTooLarge, kContinuation | kSurrogate | kTooLarge, kTooShort, kTooShort,
            kTooShort, kTooShort),
      high_nibbles(input));
  const __m256i pair_errors = _mm256_and_si256(_mm256_and_si256(first_high, first_low), second_high);
  // A continuation is due where the byte two back leads three bytes or
  // more, or the byte three back leads four: there two continuations in a
  // row are right, and anything else is wrong.
  const __m256i third = _mm256_subs_epu8(bytes_before<2>(input, previous), _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  const __m256i fourth = _mm256_subs_epu8(bytes_before<3>(input, previous), _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  const __m256i due = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
  return _mm256_xor_si256(due, pair_errors);
}

// Non-zero where the block ends inside a sequence: a lead byte among its
// last three bytes with too few bytes after it.
[[gnu::target("avx2")]] inline __m256i ends_inside_sequence(__m256i input) noexcept {
  const __m256i limits = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                          -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                                          static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
  return _mm256_subs_epu8(input, limits);
}

// The errors found so far, and what the last block leaves for the next.
struct Validation {
  __m256i errors;
  __m256i previous;
  __m256i previous_unfinished;
};

[[gnu::target("avx2")]] inline void check_block(__m256i input, Validation& v) noexcept {
  if (_mm256_movemask_epi8(input) == 0) {
    v.errors = _mm256_or_si256(v.errors, v.previous_unfinished);
    v.previous_unfinished = _mm256_setzero_si256();
  } else {
    v.errors = _mm256_or_si256(v.errors, block_errors(input, v.previous));
    v.previous_unfinished = ends_inside_sequence(input);
  }
  v.previous = input;
}

// Whether [p, end) is well-formed UTF-8. The last partial block is copied
// into a block padded with zeros, which are ASCII: a sequence cut off by the
// end of the text is then one cut off by ASCII.
[[gnu::target("avx2"), gnu::noinline]] inline bool is_valid(const char* p, const char* end) noexcept {
  Validation v{_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
  for (; end - p >= 32; p += 32) check_block(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), v);
  if (p != end) {
    alignas(32) char last[32] = {};
    std::memcpy(last, p, static_cast<size_t>(end - p));
    check_block(_mm256_load_si256(reinterpret_cast<const __m256i*>(last)), v);
  }
  const __m256i errors = _mm256_or_si256(v.errors, v.previous_unfinished);
  return _mm256_testz_si256(errors, errors) != 0;
}

}  // namespace vornel::json::utf8_avx2

#endif  // __x86_64__
