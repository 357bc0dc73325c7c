// The compact JSON writer: byte buffer, string escaping, integer and float
// text, and the recursive walk over a value.
#include "json/writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

#include "json/lexical.h"
#include "json/scan.h"
#include "json/shortest_float.h"
#include "json/utf8.h"
#include "memory/large_blocks.h"

namespace vornel::json {

// MARK: - Byte buffer

namespace {
// The largest size any object may have in this address space.
constexpr size_t kMaxCapacity = static_cast<size_t>(std::numeric_limits<ptrdiff_t>::max());
}  // namespace

ByteBuffer::ByteBuffer() : data_(static_cast<char*>(memory::allocate_block(kInitialCapacity))), capacity_(kInitialCapacity) {}

ByteBuffer::~ByteBuffer() {
  if (data_ != nullptr) memory::free_block(data_, capacity_);
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.size_ = 0;
  other.capacity_ = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) memory::free_block(data_, capacity_);
    data_ = other.data_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
  }
  return *this;
}

void ByteBuffer::grow(size_t additional) {
  size_t needed;
  if (__builtin_add_overflow(size_, additional, &needed) || needed > kMaxCapacity) {
    throw std::length_error("capacity overflow");
  }
  // capacity_ <= kMaxCapacity, so doubling cannot wrap.
  size_t new_capacity = std::max({size_t{8}, needed, 2 * capacity_});
  if (new_capacity > kMaxCapacity) throw std::length_error("capacity overflow");
  data_ = static_cast<char*>(memory::resize_block(data_, capacity_, new_capacity));
  capacity_ = new_capacity;
}

// MARK: - Strings

namespace {

// ESCAPE: 0 copies the byte, 'u' writes \u00XX, anything else is written
// after a backslash. 34 non-zero entries: 0x00-0x1F, '"' and '\\'.
constexpr std::array<char, 256> kEscape = [] {
  std::array<char, 256> table{};
  for (int byte = 0; byte < 0x20; ++byte) table[byte] = 'u';
  for (const auto& [letter, byte] : kShortEscapes) table[static_cast<unsigned char>(byte)] = letter;
  return table;
}();

constexpr char kHexDigits[] = "0123456789abcdef";

// Copies the bytes from `in` up to the first one to escape (or `end`) to
// `dst`, advancing both; returns the new `in`. While eight input bytes
// remain, whole words are copied and then tested, and `dst` moves only over
// the plain ones; the caller guarantees room for the rest of the input.
inline const char* copy_plain_run(const char* in, const char* end, char*& dst) noexcept {
  while (end - in >= 8) {
    std::memcpy(dst, in, 8);
    if (const uint64_t mask = scan::string_stop_flags(scan::load_le64(in)); mask != 0) {
      const unsigned plain = scan::first_flagged_byte(mask);
      dst += plain;
      return in + plain;
    }
    in += 8;
    dst += 8;
  }
  // The last few bytes, which may not be read or stored as a word. (Tried:
  // the tail as one word from overlapping loads, with no length-dependent
  // loop exit. No faster on rows, whose key lengths repeat row after row and
  // so predict well; slower on a rotating set of short strings.)
  while (in != end && kEscape[static_cast<unsigned char>(*in)] == 0) *dst++ = *in++;
  return in;
}

}  // namespace

char* write_string_code_point(uint32_t cp, char* out) noexcept {
  if (cp >= 0x80) return out + encode_utf8(cp, out);
  const char form = kEscape[cp];
  if (form == 0) {
    *out = static_cast<char>(cp);
    return out + 1;
  }
  out[0] = '\\';
  if (form != 'u') {
    out[1] = form;
    return out + 2;
  }
  std::memcpy(out + 1, "u00", 3);
  out[4] = kHexDigits[cp >> 4];
  out[5] = kHexDigits[cp & 0xf];
  return out + 6;
}

void serialize_str(std::string_view text, ByteBuffer& out) {
  const char* in = text.data();
  const char* const end = in + text.size();

  // Invariant: the room left after `dst` holds the rest of the input
  // unescaped plus the closing quote. Plain runs therefore never need to grow
  // the buffer; only an escape, which writes more than it reads, checks.
  out.reserve_more(text.size() + 2);
  // Bytes between out.tail() and dst are written but not yet committed.
  char* dst = out.tail();
  char* limit = dst + (out.capacity() - out.size());
  *dst++ = '"';

  while ((in = copy_plain_run(in, end, dst)) != end) {
    const unsigned char byte = static_cast<unsigned char>(*in++);
    const size_t rest = static_cast<size_t>(end - in) + 1;  // and the closing quote
    if (static_cast<size_t>(limit - dst) < kCodePointScratch + rest) {
      out.commit(static_cast<size_t>(dst - out.tail()));
      out.reserve_more(kCodePointScratch + rest);
      dst = out.tail();
      limit = dst + (out.capacity() - out.size());
    }
    dst = write_string_code_point(byte, dst);  // a byte to escape: below 0x80
  }
  *dst++ = '"';
  out.commit(static_cast<size_t>(dst - out.tail()));
}

// MARK: - Integers

namespace {

// "00" "01" ... "99": digits are looked up two at a time.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// The two digits of n < 100 as a little-endian 16-bit word.
inline uint64_t pair_word(uint32_t n) noexcept {
  uint16_t word;
  std::memcpy(&word, &kDigitPairs[2 * n], 2);
  return word;
}

inline void write_pair(char* dst, uint32_t n) noexcept { std::memcpy(dst, &kDigitPairs[2 * n], 2); }

// Exactly eight digits of n < 10^8, leading zeros included, as the bytes of
// a little-endian word (first digit lowest), for floats, whose trailing zeros
// are then counted on the word.
//
// Division-free (after J. E. Anhalt's integer printing): y is n / 10^6 in
// fixed point with 48 fraction bits, so its integer part is the first pair;
// multiplying the fraction by 100 brings up the next pair. 281474977 =
// ceil(2^48 / 10^6) overestimates by less than 0.29 per unit of n, an error
// below 1.1e-7 in y / 2^48 that grows to 0.11 after three steps: always
// less than the gap to the next integer at each step (10^-6, 10^-4, 10^-2,
// 1), so every pair is exact.
inline uint64_t eight_digit_word(uint32_t n) noexcept {
  constexpr uint64_t kFraction = (uint64_t{1} << 48) - 1;
  uint64_t y = n * uint64_t{281474977};
  uint64_t word = pair_word(static_cast<uint32_t>(y >> 48));
  y = (y & kFraction) * 100;
  word |= pair_word(static_cast<uint32_t>(y >> 48)) << 16;
  y = (y & kFraction) * 100;
  word |= pair_word(static_cast<uint32_t>(y >> 48)) << 32;
  y = (y & kFraction) * 100;
  word |= pair_word(static_cast<uint32_t>(y >> 48)) << 48;
  return word;
}

// The same eight digits stored as pairs, for integers, whose digits are not
// examined afterwards: four small stores beat assembling the word.
inline void write_eight_digits(char* dst, uint32_t n) noexcept {
  constexpr uint64_t kFraction = (uint64_t{1} << 48) - 1;
  uint64_t y = n * uint64_t{281474977};
  write_pair(dst, static_cast<uint32_t>(y >> 48));
  y = (y & kFraction) * 100;
  write_pair(dst + 2, static_cast<uint32_t>(y >> 48));
  y = (y & kFraction) * 100;
  write_pair(dst + 4, static_cast<uint32_t>(y >> 48));
  y = (y & kFraction) * 100;
  write_pair(dst + 6, static_cast<uint32_t>(y >> 48));
}

// 10^0 ... 10^19, for digit counts.
constexpr std::array<uint64_t, 20> kPowersOfTen = [] {
  std::array<uint64_t, 20> powers{};
  uint64_t p = 1;
  for (auto& power : powers) {
    power = p;
    p *= 10;
  }
  return powers;
}();

// Number of decimal digits of n (1 for 0). For bit lengths b <= 64,
// floor(b * 1233 / 4096) = floor(b * log10 2), so the guess from the bit
// length is the count or one less. n | 1 has the same count as n (powers of
// ten above 1 are even) and makes 0 count as one digit.
inline int decimal_length(uint64_t n) noexcept {
  n |= 1;
  const int guess = (static_cast<int>(std::bit_width(n)) * 1233) >> 12;
  return guess + (n >= kPowersOfTen[guess] ? 1 : 0);
}

constexpr uint64_t kHundredMillion = 100000000;

}  // namespace

// Digits are written at fixed places from the end of the scratch, eight at a
// time with leading zeros, and the text starts where the digit count says.
std::string_view write_u64(uint64_t n, char (&scratch)[kIntegerScratch]) noexcept {
  char* const end = scratch + kIntegerScratch;
  if (n < kHundredMillion) {
    write_eight_digits(end - 8, static_cast<uint32_t>(n));
  } else {
    const uint64_t high = n / kHundredMillion;
    write_eight_digits(end - 8, static_cast<uint32_t>(n - high * kHundredMillion));
    if (high < kHundredMillion) {
      write_eight_digits(end - 16, static_cast<uint32_t>(high));
    } else {
      const uint32_t top = static_cast<uint32_t>(high / kHundredMillion);  // < 1845
      write_eight_digits(end - 16, static_cast<uint32_t>(high - top * kHundredMillion));
      const uint32_t top_high = top / 100;
      write_pair(end - 20, top_high);
      write_pair(end - 18, top - top_high * 100);
    }
  }
  const size_t length = static_cast<size_t>(decimal_length(n));
  return {end - length, length};
}

std::string_view write_i64(int64_t n, char (&scratch)[kIntegerScratch]) noexcept {
  // The magnitude as unsigned, so that -2^63 does not overflow. Its at most
  // 19 digits leave the first byte of the scratch for the sign.
  const uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  const std::string_view digits = write_u64(magnitude, scratch);
  if (n >= 0) return digits;
  char* const start = scratch + (kIntegerScratch - digits.size() - 1);
  *start = '-';
  return {start, digits.size() + 1};
}

// MARK: - Floats

namespace {

// The text after the significand for each decimal exponent from -324 to 308:
// "e", the sign always, the magnitude without leading zeros.
struct ExponentText {
  char text[7];
  uint8_t length;
};
constexpr int kMinExponent = -324;
constexpr int kMaxExponent = 308;
constexpr std::array<ExponentText, kMaxExponent - kMinExponent + 1> kExponentTexts = [] {
  std::array<ExponentText, kMaxExponent - kMinExponent + 1> texts{};
  for (int e = kMinExponent; e <= kMaxExponent; ++e) {
    ExponentText& t = texts[static_cast<size_t>(e - kMinExponent)];
    int magnitude = e < 0 ? -e : e;
    char digits[3];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    t.text[0] = 'e';
    t.text[1] = e < 0 ? '-' : '+';
    for (int i = 0; i < count; ++i) t.text[2 + i] = digits[count - 1 - i];
    t.length = static_cast<uint8_t>(2 + count);
  }
  return texts;
}();

constexpr uint64_t kZeroDigits = 0x3030303030303030;  // "00000000"

// Trailing '0' characters among the eight digits of `word`.
inline int trailing_zero_digits(uint64_t word) noexcept { return std::countl_zero(word ^ kZeroDigits) >> 3; }

}  // namespace

// The layout is assembled in a local buffer with room to spare, so that every
// piece moves with fixed-size copies whatever its length, and the result goes
// to the caller's scratch in one fixed 23-byte copy (the longest text without
// its sign: "d.dddddddddddddddde-308", or "0.0000" and 17 digits).
//
// Tried and measured slower (about 10% on random doubles): widening the
// significand to exactly 17 digits and storing the three digit registers
// straight into `out`, with a 128-bit shift to insert the point.
char* write_f64(double x, char* out) noexcept {
  const uint64_t bits = std::bit_cast<uint64_t>(x);
  if ((bits >> 63) != 0) *out++ = '-';
  if ((bits << 1) == 0) {
    std::memcpy(out, "0.0", 3);
    return out + 3;
  }
  const Decimal decimal = shortest_decimal(x);
  const uint64_t m = decimal.significand;  // < 10^17

  // The significand as 17 digits with leading zeros at digits[0..17),
  // followed by '0's: an integral value's zeros come from that padding.
  constexpr size_t kLongestText = 23;
  char text[48];
  char digits[48];
  const uint64_t high = m / kHundredMillion;  // < 10^9
  const uint64_t low_word = eight_digit_word(static_cast<uint32_t>(m - high * kHundredMillion));
  const uint32_t top = static_cast<uint32_t>(high / kHundredMillion);  // < 10
  const uint64_t middle_word = eight_digit_word(static_cast<uint32_t>(high - top * kHundredMillion));
  digits[0] = static_cast<char>('0' + top);
  std::memcpy(digits + 1, &middle_word, 8);
  std::memcpy(digits + 9, &low_word, 8);
  std::memset(digits + 17, '0', sizeof digits - 17);

  const int length = decimal_length(m);
  const char* const first = digits + (17 - length);
  int trailing = trailing_zero_digits(low_word);
  if (trailing == 8) trailing += trailing_zero_digits(middle_word);  // at most 16: m has a non-zero digit
  const int significant = length - trailing;  // N, with d1 and dN non-zero
  // The decimal exponent of the first digit: x = d1.d2...dN * 10^point.
  const int point = decimal.exponent + length - 1;

  int text_length;
  if (point >= 16 || point <= -6) {
    // d1[.d2...dN]e±X
    text[0] = first[0];
    text[1] = '.';
    std::memcpy(text + 2, first + 1, 16);
    const int mantissa = significant > 1 ? significant + 1 : 1;
    const ExponentText& exponent = kExponentTexts[static_cast<size_t>(point - kMinExponent)];
    std::memcpy(text + mantissa, exponent.text, sizeof exponent.text);
    text_length = mantissa + exponent.length;
  } else if (point >= 0) {
    // point + 1 integer digits, then ".0" or the fraction digits
    std::memcpy(text, first, 16);
    text[point + 1] = '.';
    if (significant <= point + 1) {
      text[point + 2] = '0';
      text_length = point + 3;
    } else {
      std::memcpy(text + point + 2, first + point + 1, 16);
      text_length = significant + 1;
    }
  } else {
    // "0." then -point - 1 zeros, then the digits
    std::memcpy(text, "0.000000", 8);
    std::memcpy(text + 1 - point, first, 24);
    text_length = 1 - point + significant;
  }
  std::memcpy(out, text, kLongestText);
  return out + text_length;
}

// MARK: - Values

namespace {

void write_number(const Value& value, ByteBuffer& out) {
  switch (value.number_rep()) {
    case NumberRep::non_negative: {
      char scratch[kIntegerScratch];
      out.append(write_u64(value.as_u64(), scratch));
      return;
    }
    case NumberRep::negative: {
      char scratch[kIntegerScratch];
      out.append(write_i64(value.as_i64(), scratch));
      return;
    }
    case NumberRep::floating: {
      char scratch[kFloatScratch];
      const char* end = write_f64(value.as_f64(), scratch);
      out.append(scratch, static_cast<size_t>(end - scratch));
      return;
    }
  }
}

}  // namespace

// Recurses once per level; the values handed in are nested at most 127 deep.
void write_value(const Value& value, ByteBuffer& out) {
  switch (value.kind()) {
    case Kind::null:
      out.append("null", 4);
      return;
    case Kind::boolean:
      if (value.as_bool()) {
        out.append("true", 4);
      } else {
        out.append("false", 5);
      }
      return;
    case Kind::number:
      write_number(value, out);
      return;
    case Kind::string:
      serialize_str(value.as_string(), out);
      return;
    case Kind::array: {
      out.push_back('[');
      bool first = true;
      for (const Value& element : value.as_array()) {
        if (!first) out.push_back(',');
        first = false;
        write_value(element, out);
      }
      out.push_back(']');
      return;
    }
    case Kind::object: {
      out.push_back('{');
      bool first = true;
      for (const Member& member : value.as_object()) {
        if (!first) out.push_back(',');
        first = false;
        serialize_str(member.key.view(), out);
        out.push_back(':');
        write_value(member.value, out);
      }
      out.push_back('}');
      return;
    }
  }
}

std::string display_value(const Value& value) {
  ByteBuffer out;
  write_value(value, out);
  return std::string(out.view());
}

}  // namespace vornel::json
