#include "memory/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <random>

namespace vornel::memory {
namespace {

// Requests of mixed sizes, some far larger than a chunk, written in full and
// checked afterwards: every block must be aligned, usable and disjoint from
// every other.
TEST(Arena, BlocksAreAlignedAndDisjointAcrossChunks) {
  for (const size_t first_chunk : {size_t{0}, size_t{100}, size_t{4096}}) {
    Arena arena(first_chunk);
    std::mt19937_64 random(first_chunk);
    std::map<uintptr_t, size_t> blocks;  // start -> size
    for (int k = 0; k < 2000; ++k) {
      const size_t size = random() % 8 == 0 ? random() % 20000 : random() % 40;
      auto* block = static_cast<unsigned char*>(arena.allocate(size));
      ASSERT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u);
      std::memset(block, k & 0xFF, size);
      if (size != 0) blocks.emplace(reinterpret_cast<uintptr_t>(block), size);
    }
    uintptr_t end = 0;
    for (const auto& [start, size] : blocks) {
      ASSERT_GE(start, end) << "blocks overlap";
      end = start + size;
    }
    EXPECT_GT(arena.bytes_reserved(), 0u);
  }
}

TEST(Arena, ImpossibleSizesThrowBadAlloc) {
  Arena arena;
  EXPECT_THROW(arena.allocate(SIZE_MAX), std::bad_alloc);
  EXPECT_THROW(arena.allocate(SIZE_MAX - 3), std::bad_alloc);
  EXPECT_THROW(arena.allocate_array<uint64_t>(SIZE_MAX / 4), std::bad_alloc);
  // Still usable afterwards.
  EXPECT_NE(arena.allocate(16), nullptr);
}

}  // namespace
}  // namespace vornel::memory
