#include "memory/large_blocks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "memory/allocation_failures.h"
#include "memory/arena.h"

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

#ifdef VORNEL_TEST_HOOKS
// Every way the library allocates, for the test build's failing allocations
// (memory/allocation_failures.h): each call makes exactly one allocation,
// and returns whether it got its memory. (Shown to fail without the linker's
// wrapping of operator new, and with a hook left out of the blocks.)
struct AllocationSite {
  const char* name;
  bool (*allocate)();
};

constexpr size_t kMiB = size_t{1} << 20;

const AllocationSite kAllocationSites[] = {
    {"new", [] { ::operator delete(::operator new(24)); return true; }},
    {"array_new", [] { ::operator delete[](::operator new[](24)); return true; }},
    {"aligned_new", [] { ::operator delete(::operator new(24, std::align_val_t{64}), std::align_val_t{64}); return true; }},
    {"nothrow_new", [] {
       void* block = ::operator new(24, std::nothrow);
       ::operator delete(block);
       return block != nullptr;
     }},
    {"nothrow_array_new", [] {
       void* block = ::operator new[](24, std::nothrow);
       ::operator delete[](block);
       return block != nullptr;
     }},
    {"aligned_array_new", [] {
       ::operator delete[](::operator new[](24, std::align_val_t{64}), std::align_val_t{64});
       return true;
     }},
    {"aligned_nothrow_new", [] {
       void* block = ::operator new(24, std::align_val_t{64}, std::nothrow);
       ::operator delete(block, std::align_val_t{64});
       return block != nullptr;
     }},
    {"aligned_nothrow_array_new", [] {
       void* block = ::operator new[](24, std::align_val_t{64}, std::nothrow);
       ::operator delete[](block, std::align_val_t{64});
       return block != nullptr;
     }},
    {"string", [] { return std::string(100, 'x').size() == 100; }},
    {"unique_array", [] { return std::make_unique<int[]>(1000) != nullptr; }},
    {"small_block", [] { free_block(allocate_block(100), 100); return true; }},
    {"mapped_block", [] { free_block(allocate_block(4 * kMiB), 4 * kMiB); return true; }},
    {"grown_small_block", [] {
       // The one allocation counted is the growth; a failed one leaves the block as it was.
       void* block = std::malloc(10);
       try {
         block = resize_block(block, 10, 1000);
       } catch (...) {
         std::free(block);
         throw;
       }
       free_block(block, 1000);
       return true;
     }},
    {"arena_chunk", [] { return Arena(256).allocate(16) != nullptr; }},
};

class FailingAllocations : public testing::TestWithParam<AllocationSite> {};

// A call whose allocation fails throws std::bad_alloc, or for the nothrow
// form gets nothing.
bool fails(const AllocationSite& site) {
  try {
    return !site.allocate();
  } catch (const std::bad_alloc&) {
    return true;
  }
}

TEST_P(FailingAllocations, FailTheNthAndOnlyWhileArmed) {
  const AllocationSite& site = GetParam();
  {
    memory::FailingAllocations failing(2, false);
    EXPECT_FALSE(fails(site)) << "the first allocation";
    EXPECT_TRUE(fails(site)) << "the second allocation";
    EXPECT_FALSE(fails(site)) << "the third allocation";
  }
  {
    memory::FailingAllocations failing(2, true);
    EXPECT_FALSE(fails(site));
    EXPECT_TRUE(fails(site));
    EXPECT_TRUE(fails(site)) << "every allocation after the Nth fails too";
  }
  EXPECT_FALSE(fails(site)) << "disarmed";
}

INSTANTIATE_TEST_SUITE_P(Sites, FailingAllocations, testing::ValuesIn(kAllocationSites),
                         [](const auto& info) { return info.param.name; });
#endif

}  // namespace
}  // namespace vornel::memory
