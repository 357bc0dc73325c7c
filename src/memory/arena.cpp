#include "memory/arena.h"

#include <algorithm>

#include "memory/large_blocks.h"

namespace vornel::memory {

namespace {
// Chunks double from the first size up to this; a request larger than half a
// chunk gets a chunk of its own so that the current one is not abandoned.
//
// 64 bytes: a floor, so that doubling gets going from a first chunk of 0
// (the document path sizes it from the payload, which may be empty); it
// holds a map member or two.
// 32 MiB: the largest huge page used (kLargestHugePage), so that a chunk at
// the cap is whole huge pages on every kernel; a smaller cap would be
// rounded up to it on arm64 with 16 KiB pages anyway. Beyond it doubling
// gains nothing measurable: reading 56.6 MiB of api rows (bench/payloads.py,
// 100,000 rows) into values took 160-290 ms with the cap at 8, 32 or
// 128 MiB alike, the spread being this 2-core VM's page faults, and reserved
// 200 MiB each time; a larger cap only lengthens the last chunk's unused
// tail.
constexpr size_t kSmallestChunk = 64;
constexpr size_t kLargestChunk = size_t{32} << 20;
}  // namespace

Arena::Arena(size_t first_chunk) noexcept
    : next_chunk_(round_up(std::clamp(first_chunk, kSmallestChunk, kLargestChunk))) {}

Arena::~Arena() {
  while (last_ != nullptr) {
    Chunk* previous = last_->previous;
    free_block(last_, last_->size);
    last_ = previous;
  }
}

void* Arena::allocate_slow(size_t bytes) {
  constexpr size_t kHeader = round_up(sizeof(Chunk));
  if (bytes > SIZE_MAX - kHeader - kLargestHugePage) throw std::bad_alloc();
  bytes = round_up(bytes);

  const bool own_chunk = bytes > next_chunk_ / 2;
  // All of a large block is usable: none of its huge pages is left half used.
  const size_t size = block_capacity(kHeader + (own_chunk ? bytes : next_chunk_));
  auto* chunk = static_cast<Chunk*>(allocate_block(size));
  chunk->previous = last_;
  chunk->size = size;
  last_ = chunk;
  reserved_ += size;

  char* start = reinterpret_cast<char*>(chunk) + kHeader;
  if (own_chunk) return start;
  cursor_ = start + bytes;
  limit_ = reinterpret_cast<char*>(chunk) + size;
  next_chunk_ = std::min(next_chunk_ * 2, kLargestChunk);
  return start;
}

}  // namespace vornel::memory
