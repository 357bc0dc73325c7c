#include "memory/large_blocks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace vornel::memory {
namespace {

bool holds_pattern(const void* block, size_t bytes) {
  const auto* p = static_cast<const unsigned char*>(block);
  for (size_t i = 0; i < bytes; i += 4093) {
    if (p[i] != static_cast<unsigned char>(i * 7)) return false;
  }
  return true;
}

void write_pattern(void* block, size_t bytes) {
  auto* p = static_cast<unsigned char*>(block);
  for (size_t i = 0; i < bytes; i += 4093) p[i] = static_cast<unsigned char>(i * 7);
}

// Blocks move between the general-purpose allocator and whole huge pages as
// they grow or shrink across the boundary; contents must survive each move.
TEST(LargeBlocks, ResizingKeepsContentsAcrossTheHugePageBoundary) {
  const size_t sizes[] = {100, kHugePage - 1, kHugePage, 3 * kHugePage + 17, 1000, 5 * kHugePage};
  void* block = nullptr;
  size_t size = 0;
  for (const size_t next : sizes) {
    block = resize_block(block, size, next);
    ASSERT_TRUE(holds_pattern(block, size < next ? size : next)) << size << " -> " << next;
    if (next >= kHugePage) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kHugePage, 0u);
    }
    write_pattern(block, next);
    size = next;
  }
  free_block(block, size);
}

TEST(LargeBlocks, ImpossibleSizesThrowBadAlloc) {
  EXPECT_THROW(allocate_block(SIZE_MAX - 5), std::bad_alloc);
  EXPECT_THROW(allocate_block(SIZE_MAX / 2), std::bad_alloc);
}

}  // namespace
}  // namespace vornel::memory
