#include "columnar/columns.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "json/lexical.h"

namespace vornel::columnar {

namespace {
constexpr size_t kFirstSlots = 16;
constexpr uint64_t kEmptySlot = UINT64_MAX;
constexpr uint64_t kHashHalf = 0xFFFFFFFF00000000;

uint64_t slot_of(uint32_t column, uint64_t hash) noexcept { return (hash & kHashHalf) | column; }
uint32_t column_in(uint64_t slot) noexcept { return static_cast<uint32_t>(slot); }
}  // namespace

ColumnTable::ColumnTable() : slots_(kFirstSlots, kEmptySlot), keys_(json::next_hash_keys()) {}

void ColumnTable::clear() noexcept {
  columns_.clear();
  std::fill(slots_.begin(), slots_.end(), kEmptySlot);
  keys_ = json::next_hash_keys();
  decoded_names_.clear();
}

size_t ColumnTable::retained_bytes() const noexcept {
  return columns_.capacity() * sizeof(Column) + slots_.capacity() * sizeof(uint64_t);
}

uint32_t ColumnTable::find_or_add(std::string_view name, bool copy, bool in_first_row) {
  const uint64_t hash = json::siphash13(keys_, name.data(), name.size());
  const size_t mask = slots_.size() - 1;
  size_t slot = hash & mask;
  for (; slots_[slot] != kEmptySlot; slot = (slot + 1) & mask) {
    const uint32_t column = column_in(slots_[slot]);
    if ((slots_[slot] & kHashHalf) == (hash & kHashHalf) && is(column, name)) return column;
  }
  if (columns_.size() >= kNoColumn - 1) throw std::length_error("too many columns");
  if (copy) name = decoded_names_.emplace_back(name);
  const auto column = static_cast<uint32_t>(columns_.size());
  Column& added = columns_.emplace_back();
  added.name = name;
  added.hash = hash;
  added.raw_comparable = std::none_of(name.begin(), name.end(), json::is_string_stop);
  added.all_match = in_first_row;  // a column missing from the first row is never constant
  slots_[slot] = slot_of(column, hash);
  if (2 * columns_.size() > slots_.size()) grow();
  return column;
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
