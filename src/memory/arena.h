// A bump allocator for the values of one document.
//
// Reading a document makes one allocation per string, array and object; with
// the general-purpose allocator those calls, and the frees that follow, cost
// more than the reading itself. An Arena hands out memory from large chunks
// and releases everything at once when it is destroyed, so values never free
// anything individually.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace vornel::memory {

class Arena {
 public:
  // `first_chunk` sizes the first chunk; later chunks double, up to a cap.
  explicit Arena(size_t first_chunk = 4096) noexcept;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  // `bytes` of storage aligned for any value type of this library (8 bytes).
  // Throws std::bad_alloc when memory is exhausted.
  void* allocate(size_t bytes) {
    // The free space is a multiple of the alignment, so rounding up a request
    // that fits still fits.
    if (bytes <= static_cast<size_t>(limit_ - cursor_)) {
      void* at = cursor_;
      cursor_ += round_up(bytes);
      return at;
    }
    return allocate_slow(bytes);
  }

  // Uninitialised storage for `count` objects of type T; the caller constructs
  // them. T must not need destruction: the arena never runs destructors.
  template <typename T>
  T* allocate_array(size_t count) {
    static_assert(alignof(T) <= kAlign);
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate(count * sizeof(T)));
  }

  // Bytes obtained from the system so far, chunk headers included.
  size_t bytes_reserved() const noexcept { return reserved_; }

 private:
  static constexpr size_t kAlign = 8;
  static constexpr size_t round_up(size_t bytes) noexcept { return (bytes + kAlign - 1) & ~(kAlign - 1); }
  struct Chunk {
    Chunk* previous;
    size_t size;  // of the whole chunk, this header included
  };

  void* allocate_slow(size_t bytes);

  char* cursor_ = nullptr;
  char* limit_ = nullptr;
  Chunk* last_ = nullptr;
  size_t next_chunk_;
  size_t reserved_ = 0;
};

}  // namespace vornel::memory
