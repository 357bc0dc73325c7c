#include "columnar/columns.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "json/lexical.h"
#include "json/scan.h"

namespace vornel::columnar {

namespace {
constexpr size_t kFirstSlots = 16;
constexpr uint64_t kEmptySlot = UINT64_MAX;
constexpr uint64_t kHashHalf = 0xFFFFFFFF00000000;

uint64_t slot_of(uint32_t column, uint64_t hash) noexcept { return (hash & kHashHalf) | column; }
uint32_t column_in(uint64_t slot) noexcept { return static_cast<uint32_t>(slot); }

}  // namespace

ColumnTable::ColumnTable() : slots_(kFirstSlots, kEmptySlot), keys_(json::next_hash_keys()) {
  recent_.fill(kNoColumn);
}

void ColumnTable::clear() noexcept {
  columns_.clear();
  std::fill(slots_.begin(), slots_.end(), kEmptySlot);
  keys_ = json::next_hash_keys();
  decoded_names_.clear();
}

size_t ColumnTable::retained_bytes() const noexcept {
  return columns_.capacity() * sizeof(Column) + slots_.capacity() * sizeof(uint64_t);
}

// The cache line of a name: its length and up to sixteen of its bytes (the
// first and last eight, or four, or the first, middle and last byte of a
// short name), mixed by a multiplication whose top bits pick the line.
// Unkeyed, so names can be made to collide on purpose; each collision then
// costs what every lookup would cost without the cache.
size_t ColumnTable::cache_line(std::string_view name) noexcept {
  const char* p = name.data();
  const size_t n = name.size();
  uint64_t bits = n;
  if (n >= 8) {
    bits ^= json::scan::load_le64(p) ^ std::rotl(json::scan::load_le64(p + n - 8), 29);
  } else if (n >= 4) {
    uint32_t first, last;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + n - 4, 4);
    bits ^= (uint64_t{first} << 32 | last) << 3;
  } else if (n > 0) {
    bits ^= (uint64_t{static_cast<unsigned char>(p[0])} << 24 | uint64_t{static_cast<unsigned char>(p[n / 2])} << 16 |
             uint64_t{static_cast<unsigned char>(p[n - 1])} << 8);
  }
  return static_cast<size_t>((bits * 0x9E3779B97F4A7C15) >> (64 - kCacheLineBits));
}
uint32_t ColumnTable::find_or_add(std::string_view name, bool copy, bool in_first_row) {
  uint32_t& recent = recent_[cache_line(name)];
  if (recent < columns_.size() && is(recent, name)) return recent;
  const uint64_t hash = json::siphash13(keys_, name.data(), name.size());
  const size_t mask = slots_.size() - 1;
  size_t slot = hash & mask;
  for (; slots_[slot] != kEmptySlot; slot = (slot + 1) & mask) {
    const uint32_t column = column_in(slots_[slot]);
    if ((slots_[slot] & kHashHalf) == (hash & kHashHalf) && is(column, name)) return recent = column;
  }
  if (columns_.size() >= kNoColumn - 1) throw std::length_error("too many columns");
  if (copy) name = decoded_names_.emplace_back(name);
  const auto column = static_cast<uint32_t>(columns_.size());
  Column& added = columns_.emplace_back();
  added.name = name;
  added.hash = hash;
  added.raw_comparable = std::none_of(name.begin(), name.end(), json::is_string_stop);
  if (added.raw_comparable && name.size() < 16) {
    char pattern[16] = {};
    std::memcpy(pattern, name.data(), name.size());
    pattern[name.size()] = '"';
    const size_t counted = name.size() + 1;
    for (size_t word = 0; word < 2; ++word) {
      added.key_words[word] = json::scan::load_le64(pattern + 8 * word);
      const size_t bytes = std::clamp<size_t>(counted, 8 * word, 8 * word + 8) - 8 * word;
      added.key_masks[word] = bytes == 8 ? UINT64_MAX : (uint64_t{1} << (8 * bytes)) - 1;
    }
    added.key_in_words = true;
  }
  added.all_match = in_first_row;  // a column missing from the first row is never constant
  slots_[slot] = slot_of(column, hash);
  if (2 * columns_.size() > slots_.size()) grow();
  return recent = column;
}

// Doubles the slots and places every column again from its stored hash.
void ColumnTable::grow() {
  slots_.assign(2 * slots_.size(), kEmptySlot);
  const size_t mask = slots_.size() - 1;
  for (uint32_t column = 0; column < columns_.size(); ++column) {
    const uint64_t hash = columns_[column].hash;
    size_t slot = hash & mask;
    while (slots_[slot] != kEmptySlot) slot = (slot + 1) & mask;
    slots_[slot] = slot_of(column, hash);
  }
}

}  // namespace vornel::columnar
