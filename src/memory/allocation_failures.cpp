#include "memory/allocation_failures.h"

#ifdef VORNEL_TEST_HOOKS

#include <cstddef>
#include <new>
#include <type_traits>

namespace vornel::memory {
namespace {

// 0 while nothing is armed; otherwise the allocations left until the one
// that fails. Plain data, so that reading it never runs an initialiser:
// operator new is called before main and while threads start.
constinit thread_local uint64_t countdown = 0;
constinit thread_local bool persistent = false;
constinit thread_local bool failing = false;  // persistent, and the countdown ran out

}  // namespace

bool allocation_fails() noexcept {
  if (failing) return true;
  if (countdown == 0 || --countdown != 0) return false;
  failing = persistent;
  return true;
}

bool allocation_failures_armed() noexcept { return countdown != 0 || failing; }

FailingAllocations::FailingAllocations(uint64_t nth, bool persistent_failure) noexcept
    : saved_countdown_(countdown), saved_persistent_(persistent) {
  countdown = nth;
  persistent = persistent_failure;
  failing = false;
}

FailingAllocations::~FailingAllocations() {
  countdown = saved_countdown_;
  persistent = saved_persistent_;
  failing = false;
}

}  // namespace vornel::memory

// The linker option --wrap=SYMBOL (set in CMakeLists.txt for whatever links
// the core in a test build) sends every call of SYMBOL to __wrap_SYMBOL and
// lets __real_SYMBOL name the original, here the process's operator new. The
// mangled names are those of a 64-bit size_t: 'm' is unsigned long.
static_assert(std::is_same_v<std::size_t, unsigned long>);

extern "C" {
void* __real__Znwm(std::size_t);
void* __real__Znam(std::size_t);
void* __real__ZnwmRKSt9nothrow_t(std::size_t, const std::nothrow_t&) noexcept;
void* __real__ZnamRKSt9nothrow_t(std::size_t, const std::nothrow_t&) noexcept;
void* __real__ZnwmSt11align_val_t(std::size_t, std::align_val_t);
void* __real__ZnamSt11align_val_t(std::size_t, std::align_val_t);
void* __real__ZnwmSt11align_val_tRKSt9nothrow_t(std::size_t, std::align_val_t, const std::nothrow_t&) noexcept;
void* __real__ZnamSt11align_val_tRKSt9nothrow_t(std::size_t, std::align_val_t, const std::nothrow_t&) noexcept;

// Without a new-handler, a failing operator new throws std::bad_alloc and
// its nothrow form returns null: so do these.
void* __wrap__Znwm(std::size_t size) {
  if (vornel::memory::allocation_fails()) throw std::bad_alloc();
  return __real__Znwm(size);
}
void* __wrap__Znam(std::size_t size) {
  if (vornel::memory::allocation_fails()) throw std::bad_alloc();
  return __real__Znam(size);
}
void* __wrap__ZnwmRKSt9nothrow_t(std::size_t size, const std::nothrow_t& tag) noexcept {
  return vornel::memory::allocation_fails() ? nullptr : __real__ZnwmRKSt9nothrow_t(size, tag);
}
void* __wrap__ZnamRKSt9nothrow_t(std::size_t size, const std::nothrow_t& tag) noexcept {
  return vornel::memory::allocation_fails() ? nullptr : __real__ZnamRKSt9nothrow_t(size, tag);
}
void* __wrap__ZnwmSt11align_val_t(std::size_t size, std::align_val_t align) {
  if (vornel::memory::allocation_fails()) throw std::bad_alloc();
  return __real__ZnwmSt11align_val_t(size, align);
}
void* __wrap__ZnamSt11align_val_t(std::size_t size, std::align_val_t align) {
  if (vornel::memory::allocation_fails()) throw std::bad_alloc();
  return __real__ZnamSt11align_val_t(size, align);
}
void* __wrap__ZnwmSt11align_val_tRKSt9nothrow_t(std::size_t size, std::align_val_t align,
                                                 const std::nothrow_t& tag) noexcept {
  return vornel::memory::allocation_fails() ? nullptr : __real__ZnwmSt11align_val_tRKSt9nothrow_t(size, align, tag);
}
void* __wrap__ZnamSt11align_val_tRKSt9nothrow_t(std::size_t size, std::align_val_t align,
                                                 const std::nothrow_t& tag) noexcept {
  return vornel::memory::allocation_fails() ? nullptr : __real__ZnamSt11align_val_tRKSt9nothrow_t(size, align, tag);
}
}

#endif
