#include "json/siphash.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

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

void fill_from_os(void* out, size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    ssize_t got = getrandom(bytes, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("could not read the operating system's random source");
    }
    bytes += got;
    size -= static_cast<size_t>(got);
  }
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

HashKeys next_hash_keys() {
  thread_local HashKeys keys = [] {
    HashKeys seeded;
    fill_from_os(&seeded, sizeof seeded);
    return seeded;
  }();
  HashKeys fresh = keys;
  keys.k0 += 1;
  return fresh;
}

}  // namespace vornel::json
