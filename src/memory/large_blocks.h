// Large blocks of memory that are about to be written from start to end.
//
// Fresh memory reaches a process one page fault at a time. With 4 KiB pages
// that is one fault per 4 KiB, and under virtualisation each fault costs
// microseconds: filling tens of megabytes this way takes longer than reading
// the JSON that fills them. Large blocks are therefore mapped from the system
// in whole huge pages, on a huge-page boundary, and advised for transparent
// huge pages, which the kernel then faults in a huge page at a time (where the
// system allows it; the advice is harmless where it does not). They go back to
// the system as soon as they are freed. Smaller blocks come from the
// general-purpose allocator as usual.
//
// Page and huge-page sizes are read from the system once, at first use: they
// differ between machines (arm64 kernels run 4, 16 or 64 KiB pages).
//
// Only memory allocated here is ever advised: advice applies to whole pages,
// and a page of someone else's allocation may hold other objects.
#pragma once

#include <cstddef>

namespace vornel::memory {

// Huge pages larger than this are not used: arm64 with 64 KiB pages has
// 512 MiB ones, and rounding every large block up to one would reserve that
// much. 32 MiB is arm64's huge page with 16 KiB pages.
inline constexpr size_t kLargestHugePage = size_t{32} << 20;

// At least `bytes` of storage aligned to 16 bytes. Throws std::bad_alloc.
void* allocate_block(size_t bytes);
// Frees a block from allocate_block; `bytes` is the size it was asked for.
void free_block(void* block, size_t bytes) noexcept;
// Moves a block of `bytes` (from allocate_block, or null with 0 bytes) to one
// of `new_bytes`, keeping the contents that fit. Throws std::bad_alloc, and
// then the old block is untouched.
void* resize_block(void* block, size_t bytes, size_t new_bytes);

// What allocate_block(bytes) really provides, all of it usable: large blocks
// are whole huge pages (or whole pages where there are none). At most
// `bytes` + kLargestHugePage.
size_t block_capacity(size_t bytes) noexcept;

}  // namespace vornel::memory
