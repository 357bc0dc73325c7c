#include "memory/large_blocks.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "memory/allocation_failures.h"

namespace vornel::memory {

namespace {

// Blocks from this size on are mapped directly, even where the system has no
// usable huge pages: the general-purpose allocator would place them anywhere,
// recycle them through its own heaps and give them back to the system at
// times of its choosing. 2 MiB is x86-64's huge page.
constexpr size_t kDirectMapThreshold = size_t{2} << 20;

struct PageSizes {
  size_t page;         // the system's base page
  size_t huge_page;    // 0 when transparent huge pages are missing or too large to use
  size_t granule;      // what large blocks are whole multiples of, and aligned to
  size_t large_block;  // the smallest block that is mapped directly
};

bool is_power_of_two(size_t n) noexcept { return n != 0 && (n & (n - 1)) == 0; }

size_t system_page_size() noexcept {
  const long page = sysconf(_SC_PAGESIZE);
  return page > 0 && is_power_of_two(static_cast<size_t>(page)) ? static_cast<size_t>(page) : 4096;
}

// The size the kernel's transparent huge pages come in, or 0 without them.
size_t system_huge_page_size() noexcept {
  FILE* file = std::fopen("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size", "r");
  if (file == nullptr) return 0;
  unsigned long long size = 0;
  if (std::fscanf(file, "%llu", &size) != 1) size = 0;
  std::fclose(file);
  return static_cast<size_t>(size);
}

const PageSizes& page_sizes() noexcept {
  static const PageSizes sizes = [] {
    PageSizes found{};
    found.page = system_page_size();
    const size_t huge = system_huge_page_size();
    const bool usable = is_power_of_two(huge) && huge > found.page && huge <= kLargestHugePage;
    found.huge_page = usable ? huge : 0;
    found.granule = usable ? huge : found.page;
    found.large_block = std::max(found.granule, kDirectMapThreshold);
    return found;
  }();
  return sizes;
}

uintptr_t round_down(uintptr_t address, size_t unit) noexcept { return address & ~(uintptr_t{unit} - 1); }
uintptr_t round_up(uintptr_t address, size_t unit) noexcept { return round_down(address + unit - 1, unit); }

// Only advice: a kernel without transparent huge pages refuses it, and the
// block is then faulted in the usual way.
void advise_huge_pages(void* block, size_t bytes) noexcept {
  const size_t huge = page_sizes().huge_page;
  if (huge == 0) return;
  const auto start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t first = round_up(start, huge);
  const uintptr_t last = round_down(start + bytes, huge);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

size_t block_capacity(size_t bytes) noexcept {
  const PageSizes& sizes = page_sizes();
  return bytes < sizes.large_block ? bytes : round_up(bytes, sizes.granule);
}

void* allocate_block(size_t bytes) {
  const PageSizes& sizes = page_sizes();
  if (bytes < sizes.large_block) {
    void* block = allocation_fails() ? nullptr : std::malloc(bytes);
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  if (bytes > SIZE_MAX - 2 * kLargestHugePage) throw std::bad_alloc();
  const size_t size = block_capacity(bytes);
  // mmap aligns to pages only. Map one granule more than needed and cut the
  // block out on a granule boundary, unmapping the ends.
  const size_t slack = sizes.granule - sizes.page;
  void* mapping = allocation_fails()
                      ? MAP_FAILED
                      : mmap(nullptr, size + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<uintptr_t>(mapping);
  const uintptr_t block = round_up(start, sizes.granule);
  if (block > start) munmap(mapping, block - start);
  if (const uintptr_t tail = start + slack - block; tail != 0) {
    munmap(reinterpret_cast<void*>(block + size), tail);
  }
  advise_huge_pages(reinterpret_cast<void*>(block), size);
  return reinterpret_cast<void*>(block);
}

void free_block(void* block, size_t bytes) noexcept {
  if (bytes < page_sizes().large_block) {
    std::free(block);
  } else {
    munmap(block, block_capacity(bytes));
  }
}

void* resize_block(void* block, size_t bytes, size_t new_bytes) {
  const size_t large_block = page_sizes().large_block;
  if (bytes < large_block && new_bytes < large_block) {
    // Small blocks stay with the general-purpose allocator, which can often
    // grow them in place.
    void* resized = allocation_fails() ? nullptr : std::realloc(block, new_bytes);
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

}  // namespace vornel::memory
