// The compact JSON writer: the exact bytes the library returns.
//
// No whitespace anywhere, members in insertion order, strings escaped by a
// fixed 34-entry table (everything else, "/" and 0x7F included, copied raw),
// integers in plain decimal and floats in their shortest round-trip form with
// a fixed layout ("1.0", "1e+16", "0.00001", "1e-6", "5e-324").
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "json/value.h"

namespace vornel::json {

// A growable byte buffer that the writer appends to. It starts at 128 bytes of
// capacity and grows to the largest of 8, the length needed and twice the old
// capacity. Growth beyond the largest size a buffer may have throws
// std::length_error("capacity overflow"); a failed allocation throws
// std::bad_alloc.
class ByteBuffer {
 public:
  static constexpr size_t kInitialCapacity = 128;

  ByteBuffer();
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer();

  const char* data() const noexcept { return data_; }
  size_t size() const noexcept { return size_; }
  size_t capacity() const noexcept { return capacity_; }
  std::string_view view() const noexcept { return {data_, size_}; }

  void append(const char* bytes, size_t count) {
    if (capacity_ - size_ < count) grow(count);
    std::memcpy(data_ + size_, bytes, count);
    size_ += count;
  }
  void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
  void push_back(char byte) {
    if (size_ == capacity_) grow(1);
    data_[size_++] = byte;
  }
  // Room for at least `count` more bytes; write through `tail()` then `commit`.
  void reserve_more(size_t count) {
    if (capacity_ - size_ < count) grow(count);
  }
  char* tail() noexcept { return data_ + size_; }
  void commit(size_t count) noexcept { size_ += count; }
  // Drops everything after the first `size` bytes (size <= size()).
  void truncate(size_t size) noexcept { size_ = size; }

 private:
  [[gnu::cold, gnu::noinline]] void grow(size_t additional);

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Appends the compact text of `value`.
void write_value(const Value& value, ByteBuffer& out);

// Appends one JSON string: a quote, the escaped bytes of `text`, a quote.
void serialize_str(std::string_view text, ByteBuffer& out);

// The writer's text for one code point inside a string: the escape it
// writes for '"', '\\' and the bytes below 0x20, or else the code point's
// UTF-8 bytes. Writes at most kCodePointScratch bytes at `out` and returns
// the end.
inline constexpr size_t kCodePointScratch = 6;
char* write_string_code_point(uint32_t cp, char* out) noexcept;

// Scratch sizes: 20 bytes hold any 64-bit integer with its sign; 24 bytes
// hold any float text (sign, 17 digits, point, "e-324").
inline constexpr size_t kIntegerScratch = 20;
inline constexpr size_t kFloatScratch = 24;

// Format an integer into `scratch` and return the text (which lies inside
// `scratch`, not necessarily at its start).
std::string_view write_u64(uint64_t n, char (&scratch)[kIntegerScratch]) noexcept;
std::string_view write_i64(int64_t n, char (&scratch)[kIntegerScratch]) noexcept;

// Format a finite double at `scratch` and return the end of the text.
// `scratch` must have room for kFloatScratch bytes, all of which may be
// written (the layout moves its pieces with fixed-size copies).
char* write_f64(double x, char* scratch) noexcept;

// The same text as write_value, as a string.
std::string display_value(const Value& value);

}  // namespace vornel::json
