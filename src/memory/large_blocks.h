// Large blocks of memory that are about to be written from start to end.
//
// Fresh memory reaches a process one page fault at a time. With 4 KiB pages
// that is one fault per 4 KiB, and under virtualisation each fault costs
// microseconds: filling tens of megabytes this way takes longer than reading
// the JSON that fills them. Blocks of at least a huge page are therefore
// mapped from the system in whole huge pages, on a huge-page boundary, and
// advised for transparent huge pages, which the kernel then faults in 2 MiB
// at a time (where the system allows it; the advice is harmless where it does
// not). They go back to the system as soon as they are freed. Smaller blocks
// come from the general-purpose allocator as usual.
#pragma once

#include <cstddef>

namespace vornel::memory {

inline constexpr size_t kHugePage = size_t{2} << 20;

// At least `bytes` of storage aligned to 16 bytes. Throws std::bad_alloc.
void* allocate_block(size_t bytes);
// Frees a block from allocate_block; `bytes` is the size it was asked for.
void free_block(void* block, size_t bytes) noexcept;
// Moves a block of `bytes` (from allocate_block, or null with 0 bytes) to one
// of `new_bytes`, keeping the contents that fit. Throws std::bad_alloc, and
// then the old block is untouched.
void* resize_block(void* block, size_t bytes, size_t new_bytes);

// Advises huge pages for the whole huge pages inside [block, block + bytes).
void advise_huge_pages(void* block, size_t bytes) noexcept;

// Readies memory that someone else allocated and that is about to be written
// whole: huge pages where they fit, and every page faulted in by one system
// call rather than one trap per page.
void prefault_for_writing(void* block, size_t bytes) noexcept;

}  // namespace vornel::memory
