// SipHash-1-3 and the per-thread hash keys that every keyed hash table of the
// library draws from.
//
// SipHash keeps lookups in tables keyed by payload text resistant to crafted
// collisions; the keys only decide speed, never the order or content of any
// result.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vornel::json {

struct HashKeys {
  uint64_t k0;
  uint64_t k1;
};

// SipHash-1-3 (one compression round, three finalisation rounds) of `size`
// bytes at `data` under `keys`.
uint64_t siphash13(HashKeys keys, const void* data, size_t size) noexcept;

// A fresh key pair for a new hash table. The first call on a thread seeds the
// thread's pair from the operating system's random source, or where none can
// be read (a sandbox may block them all) from the clock and the addresses the
// loader randomises, mixed so that no two threads share a pair. Every call
// after it increments k0, so no two tables made on one thread share a pair.
HashKeys next_hash_keys() noexcept;

#ifdef VORNEL_TEST_HOOKS
// Test builds only: while set, the operating system's random sources fail,
// for the threads that seed their keys from then on.
void fail_random_sources_for_testing(bool fail) noexcept;
#endif

}  // namespace vornel::json
