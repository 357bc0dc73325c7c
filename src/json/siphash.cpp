#include "json/siphash.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>

#include "json/scan.h"

namespace vornel::json {
namespace {

inline uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
  uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }

  void absorb(uint64_t m) {
    v3 ^= m;
    round();  // c = 1 compression round
    v0 ^= m;
  }
};

#ifdef VORNEL_TEST_HOOKS
std::atomic<bool> random_sources_fail{false};
bool random_sources_blocked() noexcept { return random_sources_fail.load(std::memory_order_relaxed); }
#else
constexpr bool random_sources_blocked() noexcept { return false; }
#endif

// Calls `read_some(at, count)`, which returns the bytes it read or -1 with
// errno set, until `size` bytes are filled. False when it fails or runs dry.
template <class ReadSome>
bool fill(unsigned char* bytes, size_t size, ReadSome read_some) noexcept {
  size_t filled = 0;
  while (filled < size) {
    const ssize_t got = read_some(bytes + filled, size - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    filled += static_cast<size_t>(got);
  }
  return true;
}

// Fills `size` bytes from the kernel's random source: getrandom, or
// /dev/urandom where getrandom is missing (kernels before 3.17) or a sandbox
// blocks it. False when neither can be read.
bool read_random_source(void* out, size_t size) noexcept {
  if (random_sources_blocked()) return false;
  auto* bytes = static_cast<unsigned char*>(out);
  if (fill(bytes, size, [](unsigned char* at, size_t count) { return getrandom(at, count, 0); })) return true;
  const int device = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (device < 0) return false;
  const bool filled = fill(bytes, size, [device](unsigned char* at, size_t count) { return read(device, at, count); });
  close(device);
  return filled;
}

// Keys for a thread that can read no random source. The keys decide only
// speed, so they need to be hard to guess from outside rather than random:
// the clock and the addresses that address-space randomisation moves are
// mixed with a number no other thread of the process gets, which keeps the
// pairs of any two threads apart.
HashKeys keys_without_random_source() noexcept {
  static std::atomic<uint64_t> threads_seeded{0};
  thread_local char here;
  const uint64_t thread_number = threads_seeded.fetch_add(1, std::memory_order_relaxed);
  const auto nanoseconds = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const uint64_t mixed[] = {nanoseconds, reinterpret_cast<uintptr_t>(&here),
                            reinterpret_cast<uintptr_t>(&threads_seeded), static_cast<uint64_t>(getpid())};
  // SipHash keyed by the thread's number is a different function for every
  // thread, so equal clocks and addresses still give different keys.
  return {siphash13({thread_number, 0}, mixed, sizeof mixed), siphash13({thread_number, 1}, mixed, sizeof mixed)};
}

}  // namespace

uint64_t siphash13(HashKeys keys, const void* data, size_t size) noexcept {
  // The initial constants spell "somepseudorandomlygeneratedbytes".
  SipState s{keys.k0 ^ 0x736f6d6570736575ULL, keys.k1 ^ 0x646f72616e646f6dULL,
             keys.k0 ^ 0x6c7967656e657261ULL, keys.k1 ^ 0x7465646279746573ULL};
  const auto* p = static_cast<const unsigned char*>(data);
  const size_t whole = size & ~size_t{7};
  for (size_t i = 0; i < whole; i += 8) s.absorb(scan::load_le64(p + i));

  uint64_t last = static_cast<uint64_t>(size) << 56;
  for (size_t i = whole; i < size; ++i) last |= static_cast<uint64_t>(p[i]) << (8 * (i - whole));
  s.absorb(last);

  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

HashKeys next_hash_keys() noexcept {
  thread_local HashKeys keys = [] {
    HashKeys seeded;
    return read_random_source(&seeded, sizeof seeded) ? seeded : keys_without_random_source();
  }();
  HashKeys fresh = keys;
  keys.k0 += 1;
  return fresh;
}

#ifdef VORNEL_TEST_HOOKS
void fail_random_sources_for_testing(bool fail) noexcept { random_sources_fail.store(fail, std::memory_order_relaxed); }
#endif

}  // namespace vornel::json
