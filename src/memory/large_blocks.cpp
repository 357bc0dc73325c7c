#include "memory/large_blocks.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vornel::memory {

namespace {
// Large blocks are mapped directly, in whole huge pages: the general-purpose
// allocator would place them anywhere, recycle them through its own heaps and
// give them back to the system at times of its choosing.
size_t mapped_size(size_t bytes) noexcept { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }
}  // namespace

void* allocate_block(size_t bytes) {
  if (bytes < kHugePage) {
    void* block = std::malloc(bytes);
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  if (bytes > SIZE_MAX - 2 * kHugePage) throw std::bad_alloc();
  const size_t size = mapped_size(bytes);
  // Map one huge page more than needed and cut the block out on a huge-page
  // boundary, unmapping the ends.
  void* mapping = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<uintptr_t>(mapping);
  const uintptr_t block = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (block > start) munmap(mapping, block - start);
  if (const uintptr_t tail = start + kHugePage - block; tail != 0) {
    munmap(reinterpret_cast<void*>(block + size), tail);
  }
  advise_huge_pages(reinterpret_cast<void*>(block), size);
  return reinterpret_cast<void*>(block);
}

void free_block(void* block, size_t bytes) noexcept {
  if (bytes < kHugePage) {
    std::free(block);
  } else {
    munmap(block, mapped_size(bytes));
  }
}

void* resize_block(void* block, size_t bytes, size_t new_bytes) {
  if (bytes < kHugePage && new_bytes < kHugePage) {
    // Small blocks stay with the general-purpose allocator, which can often
    // grow them in place.
    void* resized = std::realloc(block, new_bytes);
    if (resized == nullptr) throw std::bad_alloc();
    return resized;
  }
  void* resized = allocate_block(new_bytes);
  if (block != nullptr) {
    std::memcpy(resized, block, bytes < new_bytes ? bytes : new_bytes);
    free_block(block, bytes);
  }
  return resized;
}

void advise_huge_pages(void* block, size_t bytes) noexcept {
  const auto start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = (start + bytes) & ~(kHugePage - 1);
  // Only advice: a kernel without transparent huge pages refuses it, and the
  // block is then faulted in the usual way.
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void prefault_for_writing(void* block, size_t bytes) noexcept {
  advise_huge_pages(block, bytes);
  const auto start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t first = start & ~uintptr_t{4095};
  // Only an optimisation: kernels before 5.14 refuse it and the copy faults
  // the pages in as usual.
  madvise(reinterpret_cast<void*>(first), start + bytes - first, MADV_POPULATE_WRITE);
}

}  // namespace vornel::memory
