#include "json/arena.h"

#include <algorithm>

namespace vornel::json {

namespace {
// Chunks double from the first size up to this; a request larger than half a
// chunk gets a chunk of its own so that the current one is not abandoned.
constexpr size_t kSmallestChunk = 64;
constexpr size_t kLargestChunk = size_t{32} << 20;
}  // namespace

Arena::Arena(size_t first_chunk) noexcept
    : next_chunk_(round_up(std::clamp(first_chunk, kSmallestChunk, kLargestChunk))) {}

Arena::~Arena() {
  while (last_ != nullptr) {
    Chunk* previous = last_->previous;
    ::operator delete(last_);
    last_ = previous;
  }
}

void* Arena::allocate_slow(size_t bytes) {
  constexpr size_t kHeader = round_up(sizeof(Chunk));
  if (bytes > SIZE_MAX - kHeader - kAlign) throw std::bad_alloc();
  bytes = round_up(bytes);

  const bool own_chunk = bytes > next_chunk_ / 2;
  const size_t size = kHeader + (own_chunk ? bytes : next_chunk_);
  auto* chunk = static_cast<Chunk*>(::operator new(size));
  chunk->previous = last_;
  last_ = chunk;
  reserved_ += size;

  char* start = reinterpret_cast<char*>(chunk) + kHeader;
  if (own_chunk) return start;
  cursor_ = start + bytes;
  limit_ = start + next_chunk_;
  next_chunk_ = std::min(next_chunk_ * 2, kLargestChunk);
  return start;
}

}  // namespace vornel::json
