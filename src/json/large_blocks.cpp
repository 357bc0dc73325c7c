#include "json/large_blocks.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace vornel::json {

void* allocate_block(size_t bytes) {
  if (bytes < kHugePage) return ::operator new(bytes);
  void* block = ::operator new(bytes, std::align_val_t{kHugePage});
  advise_huge_pages(block, bytes);
  return block;
}

void free_block(void* block, size_t bytes) noexcept {
  if (bytes < kHugePage) {
    ::operator delete(block);
  } else {
    ::operator delete(block, std::align_val_t{kHugePage});
  }
}

void advise_huge_pages(void* block, size_t bytes) noexcept {
  const auto start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = (start + bytes) & ~(kHugePage - 1);
  // Only advice: a kernel without transparent huge pages refuses it, and the
  // block is then faulted in the usual way.
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace vornel::json
