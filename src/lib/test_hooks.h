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
//
// The last one is reached through the entry: "!fault:entry:!fault:reporting:"
// faults at the entry with a message that then fails to be reported.
#pragma once

#include <string_view>

namespace vornel::lib::test_hooks {

enum class FaultSite { transform, entry, reporting };

#ifdef VORNEL_TEST_HOOKS
// Throws when `text` requests a fault at `site`.
void fault_if_requested(FaultSite site, std::string_view text);
#else
inline void fault_if_requested(FaultSite, std::string_view) {}
#endif

}  // namespace vornel::lib::test_hooks
