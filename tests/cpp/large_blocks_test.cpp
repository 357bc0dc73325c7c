#include "memory/large_blocks.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

// Blocks move between the general-purpose allocator and direct mappings as
// they grow or shrink across the boundary (2 MiB, or a larger huge page);
// contents must survive each move.
TEST(LargeBlocks, KeepContentsAcrossTheDirectMappingBoundary) {
  constexpr size_t kMiB = size_t{1} << 20;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t sizes[] = {100, 2 * kMiB - 1, 2 * kMiB, 6 * kMiB + 17, 1000, kLargestHugePage + 3, 10 * kMiB};
  void* block = nullptr;
  size_t size = 0;
  for (const size_t next : sizes) {
    block = resize_block(block, size, next);
    ASSERT_TRUE(holds_pattern(block, size < next ? size : next)) << size << " -> " << next;
    EXPECT_GE(block_capacity(next), next);
    if (block_capacity(next) != next) {
      // Rounded up to whole pages or huge pages, and aligned to them.
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % page, 0u);
      EXPECT_EQ(block_capacity(next) % page, 0u);
    }
    write_pattern(block, block_capacity(next));
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
