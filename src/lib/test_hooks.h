// Faults that only a test build can provoke, so that the paths reporting
// them are tested like any other path.
//
// A module built with the CMake option VORNEL_TEST_HOOKS recognises payloads
// that begin with "!fault:" as requests to fail at one of the sites below.
// Every other build compiles the hooks to nothing.
//
// The request travels in the payload of the very call it concerns, so the
// switch holds no mutable state: calls in other threads or interpreters
// never see it. No JSON text begins with "!", so a payload that could
// succeed never changes meaning.
//
//   !fault:transform:TEXT      the transform throws std::runtime_error(TEXT)
//   !fault:transform-unknown:  the transform throws an object that is no std::exception
//   !fault:entry:TEXT          the entry throws std::runtime_error(TEXT) outside the transform
//   !fault:reporting:TEXT      reporting a fault whose message is this text throws
//   !fault:allocation:N:TEXT   the call goes on with TEXT as its payload, and the Nth
//                              allocation of its C++ code fails (src/memory/allocation_failures.h)
//   !fault:allocations:N:TEXT  the same, with every allocation from the Nth on failing
//
// "reporting" is reached through the entry: "!fault:entry:!fault:reporting:"
// faults at the entry with a message that then fails to be reported.
#pragma once

#include <cstdint>
#include <string_view>

#include "memory/allocation_failures.h"

namespace vornel::lib::test_hooks {

enum class FaultSite { transform, entry, reporting };

#ifdef VORNEL_TEST_HOOKS
// Throws when `text` requests a fault at `site`.
void fault_if_requested(FaultSite site, std::string_view text);
#else
inline void fault_if_requested(FaultSite, std::string_view) {}
#endif

// The payload of a call, and for this object's lifetime the allocation
// failures that the call's "!fault:allocation" prefix requests, if any.
class AllocationFailures {
 public:
#ifdef VORNEL_TEST_HOOKS
  explicit AllocationFailures(std::string_view text) noexcept;
#else
  explicit AllocationFailures(std::string_view text) noexcept : payload_(text) {}
#endif
  AllocationFailures(const AllocationFailures&) = delete;
  AllocationFailures& operator=(const AllocationFailures&) = delete;

  // The text with the request taken off.
  std::string_view payload() const noexcept { return payload_; }

 private:
  std::string_view payload_;
#ifdef VORNEL_TEST_HOOKS
  struct Parsed {
    std::string_view payload;
    uint64_t nth = 0;
    bool persistent = false;
  };
  static Parsed parse_request(std::string_view text) noexcept;
  explicit AllocationFailures(const Parsed& request) noexcept;
  memory::FailingAllocations failing_;
#endif
};

}  // namespace vornel::lib::test_hooks
