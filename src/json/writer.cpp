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

#include "json/shortest_float.h"

namespace vornel::json {

// MARK: - Byte buffer

namespace {
// The largest size any object may have in this address space.
constexpr size_t kMaxCapacity = static_cast<size_t>(std::numeric_limits<ptrdiff_t>::max());
}  // namespace

ByteBuffer::ByteBuffer() : data_(static_cast<char*>(std::malloc(kInitialCapacity))) {
  if (data_ == nullptr) throw std::bad_alloc();
  capacity_ = kInitialCapacity;
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.size_ = 0;
  other.capacity_ = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    std::free(data_);
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
  void* grown = std::realloc(data_, new_capacity);
  if (grown == nullptr) throw std::bad_alloc();
  data_ = static_cast<char*>(grown);
  capacity_ = new_capacity;
}

// MARK: - Strings

namespace {

static_assert(std::endian::native == std::endian::little,
              "the word-at-a-time scan finds the first escaped byte in the lowest set bits");

// ESCAPE: 0 copies the byte, 'u' writes \u00XX, anything else is written
// after a backslash. 34 non-zero entries: 0x00-0x1F, '"' and '\\'.
constexpr std::array<char, 256> kEscape = [] {
  std::array<char, 256> table{};
  for (int byte = 0; byte < 0x20; ++byte) table[byte] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}();

constexpr char kHexDigits[] = "0123456789abcdef";

constexpr uint64_t kEveryByte = 0x0101010101010101;
constexpr uint64_t kHighBits = 0x8080808080808080;

// The high bit of each byte of `word` that must be escaped, and possibly of
// bytes above such a byte (a borrow only travels upwards). The lowest set
// bit therefore always marks the first byte to escape. The three tests are
// the classic "has a zero byte" / "has a byte less than n" forms:
// (x - n*ones) & ~x & highs flags bytes below n that have the high bit clear.
inline uint64_t escape_mask(uint64_t word) noexcept {
  const uint64_t quote = word ^ (kEveryByte * '"');
  const uint64_t backslash = word ^ (kEveryByte * '\\');
  const uint64_t flagged = ((quote - kEveryByte) & ~quote) | ((backslash - kEveryByte) & ~backslash) |
                           ((word - kEveryByte * 0x20) & ~word);
  return flagged & kHighBits;
}

}  // namespace

void serialize_str(std::string_view text, ByteBuffer& out) {
  const char* in = text.data();
  const char* const end = in + text.size();

  // Invariant: the room left after `dst` holds the rest of the input
  // unescaped plus the closing quote. Plain runs therefore never need to grow
  // the buffer, and whole 8-byte words may be stored while 8 input bytes
  // remain; only an escape, which writes more than it reads, checks for room.
  out.reserve_more(text.size() + 2);
  // Bytes between out.tail() and dst are written but not yet committed.
  char* dst = out.tail();
  char* limit = dst + (out.capacity() - out.size());
  *dst++ = '"';

  for (;;) {
    // Fast path: copy words until one holds a byte to escape.
    while (end - in >= 8) {
      uint64_t word;
      std::memcpy(&word, in, 8);
      std::memcpy(dst, &word, 8);
      const uint64_t mask = escape_mask(word);
      if (mask != 0) {
        const int plain = std::countr_zero(mask) >> 3;
        in += plain;
        dst += plain;
        goto escape;
      }
      in += 8;
      dst += 8;
    }
    // The last few bytes, which may not be read or stored as a word.
    while (in != end && kEscape[static_cast<unsigned char>(*in)] == 0) *dst++ = *in++;
    if (in == end) break;

  escape : {
    const unsigned char byte = static_cast<unsigned char>(*in++);
    const char form = kEscape[byte];
    const size_t rest = static_cast<size_t>(end - in) + 1;
    if (static_cast<size_t>(limit - dst) < 6 + rest) {
      out.commit(static_cast<size_t>(dst - out.tail()));
      out.reserve_more(6 + rest);
      dst = out.tail();
      limit = dst + (out.capacity() - out.size());
    }
    if (form == 'u') {
      std::memcpy(dst, "\\u00", 4);
      dst[4] = kHexDigits[byte >> 4];
      dst[5] = kHexDigits[byte & 0xf];
      dst += 6;
    } else {
      dst[0] = '\\';
      dst[1] = form;
      dst += 2;
    }
  }
  }
  *dst++ = '"';
  out.commit(static_cast<size_t>(dst - out.tail()));
}

// MARK: - Integers

namespace {

// "00" "01" ... "99": two digits per division by 100.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

inline void write_pair(char* dst, uint32_t two_digits) noexcept {
  std::memcpy(dst, &kDigitPairs[2 * two_digits], 2);
}

// Exactly eight digits of n < 10^8, leading zeros included. The four pairs
// come from independent divisions, so they overlap in the pipeline.
inline void write_eight_digits(char* dst, uint32_t n) noexcept {
  const uint32_t high = n / 10000;
  const uint32_t low = n - high * 10000;
  const uint32_t high_high = high / 100;
  const uint32_t low_high = low / 100;
  write_pair(dst, high_high);
  write_pair(dst + 2, high - high_high * 100);
  write_pair(dst + 4, low_high);
  write_pair(dst + 6, low - low_high * 100);
}

// The digits of n < 10^8, ending just before `end`; returns their start.
inline char* write_small_backward(uint32_t n, char* end) noexcept {
  while (n >= 100) {
    const uint32_t quotient = n / 100;
    end -= 2;
    write_pair(end, n - quotient * 100);
    n = quotient;
  }
  if (n >= 10) {
    end -= 2;
    write_pair(end, n);
  } else {
    *--end = static_cast<char>('0' + n);
  }
  return end;
}

// The digits of n, ending just before `end`; returns their start. Eight
// digits at a time from the least significant end, then the leading part.
inline char* write_decimal_backward(uint64_t n, char* end) noexcept {
  while (n >= 100000000) {
    const uint64_t quotient = n / 100000000;
    end -= 8;
    write_eight_digits(end, static_cast<uint32_t>(n - quotient * 100000000));
    n = quotient;
  }
  return write_small_backward(static_cast<uint32_t>(n), end);
}

}  // namespace

std::string_view write_u64(uint64_t n, char (&scratch)[kIntegerScratch]) noexcept {
  char* const end = scratch + kIntegerScratch;
  char* const start = write_decimal_backward(n, end);
  return {start, static_cast<size_t>(end - start)};
}

std::string_view write_i64(int64_t n, char (&scratch)[kIntegerScratch]) noexcept {
  // The magnitude as unsigned, so that -2^63 does not overflow.
  const uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  char* const end = scratch + kIntegerScratch;
  char* start = write_decimal_backward(magnitude, end);
  if (n < 0) *--start = '-';
  return {start, static_cast<size_t>(end - start)};
}

// MARK: - Floats

namespace {

// Powers of ten up to 10^17, for the digit count of a significand.
constexpr std::array<uint64_t, 18> kPowersOfTen = [] {
  std::array<uint64_t, 18> powers{};
  uint64_t p = 1;
  for (auto& power : powers) {
    power = p;
    p *= 10;
  }
  return powers;
}();

// Number of decimal digits of 0 < n < 10^17. 1233/4096 ~ log10 2 gives the
// count from the bit length, one too many at most.
inline int decimal_length(uint64_t n) noexcept {
  const int guess = ((64 - std::countl_zero(n)) * 1233) >> 12;
  return guess + (n >= kPowersOfTen[guess] ? 1 : 0);
}

// The D digits of n (exactly D, D <= 17) at dst.
inline void write_digits(char* dst, uint64_t n, int length) noexcept {
  write_decimal_backward(n, dst + length);
}

// Drops trailing '0's from the `length` digits at `digits`; the first digit
// is never zero.
inline int trimmed_length(const char* digits, int length) noexcept {
  while (digits[length - 1] == '0') --length;
  return length;
}

// "e+16", "e-7", "e-324": the sign always, no leading zeros.
inline char* write_exponent(char* dst, int exponent) noexcept {
  *dst++ = 'e';
  *dst++ = exponent < 0 ? '-' : '+';
  const uint32_t magnitude = static_cast<uint32_t>(exponent < 0 ? -exponent : exponent);
  if (magnitude >= 100) {
    *dst++ = static_cast<char>('0' + magnitude / 100);
    write_pair(dst, magnitude % 100);
    return dst + 2;
  }
  if (magnitude >= 10) {
    write_pair(dst, magnitude);
    return dst + 2;
  }
  *dst++ = static_cast<char>('0' + magnitude);
  return dst;
}

}  // namespace

char* write_f64(double x, char* out) noexcept {
  const uint64_t bits = std::bit_cast<uint64_t>(x);
  if ((bits >> 63) != 0) *out++ = '-';
  if ((bits << 1) == 0) {
    std::memcpy(out, "0.0", 3);
    return out + 3;
  }

  const Decimal decimal = shortest_decimal(x);
  const int length = decimal_length(decimal.significand);
  // The decimal exponent of the first digit: x = d1.d2... * 10^point.
  const int point = decimal.exponent + length - 1;

  if (point >= 16 || point <= -6) {
    // d1[.d2...dN]e±X: write the digits one place to the right, then move
    // the first one in front of the point.
    write_digits(out + 1, decimal.significand, length);
    const int digits = trimmed_length(out + 1, length);
    out[0] = out[1];
    char* end = out + 1;
    if (digits > 1) {
      out[1] = '.';
      end = out + 1 + digits;
    }
    return write_exponent(end, point);
  }

  if (point < 0) {
    // 0.[zeros]digits, -5 <= point <= -1: "0.0000" then the digits over the
    // unneeded zeros.
    std::memcpy(out, "0.0000", 6);
    char* const digits_start = out + 1 - point;
    write_digits(digits_start, decimal.significand, length);
    return digits_start + trimmed_length(digits_start, length);
  }

  // 0 <= point <= 15: point + 1 integer digits, then the fraction or ".0".
  const int integer_digits = point + 1;
  write_digits(out, decimal.significand, length);
  const int digits = trimmed_length(out, length);
  if (digits <= integer_digits) {
    for (int i = digits; i < integer_digits; ++i) out[i] = '0';
    std::memcpy(out + integer_digits, ".0", 2);
    return out + integer_digits + 2;
  }
  std::memmove(out + integer_digits + 1, out + integer_digits, static_cast<size_t>(digits - integer_digits));
  out[integer_digits] = '.';
  return out + digits + 1;
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
