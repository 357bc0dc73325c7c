// Allocations made to fail on purpose, one at a time, so that every path a
// failed allocation takes is tested like any other path.
//
// A build with the CMake option VORNEL_TEST_HOOKS counts the allocations a
// thread makes while a FailingAllocations is armed on it, and fails the
// Nth (or, persistently, the Nth and every one after it):
// - the blocks of src/memory (large_blocks.cpp), which the arena's chunks,
//   the byte buffers and the large outputs come from: the hook there stands
//   in for malloc, realloc or mmap returning failure, so the real failure
//   path runs;
// - every operator new that code linked with the core calls (the containers,
//   strings and unique pointers of the transform and the boundary): the
//   linker routes those calls through this file's wrappers, which either
//   fail the way operator new fails or call the real one. Nothing replaces
//   operator delete, so every block is still allocated and freed by the
//   process's own pair, whichever library allocates or frees it.
// Every other build compiles the hook to a constant false, and has neither
// the counter nor the wrappers.
//
// The counter is per thread and armed only for the lifetime of one object,
// so calls on other threads never see it. The module arms it from a request
// in the payload of the very call it concerns (src/lib/test_hooks.h).
#pragma once

#include <cstdint>

namespace vornel::memory {

#ifdef VORNEL_TEST_HOOKS
// Counts one allocation of the calling thread: true when it must fail.
bool allocation_fails() noexcept;

// Whether allocations are counted on the calling thread: storage kept from
// an earlier call is then not reused, so that the call makes, and can fail,
// every allocation a first call makes.
bool allocation_failures_armed() noexcept;

class FailingAllocations {
 public:
  // Fails the `nth` allocation from now on this thread (counting from 1),
  // and with `persistent` every later one too, until destroyed. 0 fails none.
  FailingAllocations(uint64_t nth, bool persistent) noexcept;
  ~FailingAllocations();
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;

 private:
  uint64_t saved_countdown_;
  bool saved_persistent_;
};
#else
constexpr bool allocation_fails() noexcept { return false; }
constexpr bool allocation_failures_armed() noexcept { return false; }
#endif

}  // namespace vornel::memory
