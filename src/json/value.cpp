#include "json/value.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

namespace vornel::json {

// ---- String ----------------------------------------------------------------

String::String(Arena& arena, std::string_view text) : size_(text.size()) {
  if (size_ != 0) {
    char* copy = arena.allocate_array<char>(size_);
    std::memcpy(copy, text.data(), size_);
    data_ = copy;
  }
}

// ---- Value -----------------------------------------------------------------

Value Value::boolean(bool flag) noexcept {
  Value v;
  v.kind_ = Kind::boolean;
  v.flag_ = flag;
  return v;
}

Value Value::non_negative(uint64_t n) noexcept {
  Value v;
  v.kind_ = Kind::number;
  v.rep_ = NumberRep::non_negative;
  v.u_ = n;
  return v;
}

Value Value::negative(int64_t n) noexcept {
  Value v;
  v.kind_ = Kind::number;
  v.rep_ = NumberRep::negative;
  v.i_ = n;
  return v;
}

Value Value::floating(double f) noexcept {
  Value v;
  v.kind_ = Kind::number;
  v.rep_ = NumberRep::floating;
  v.f_ = f;
  return v;
}

Value Value::string(String text) noexcept {
  Value v;
  v.kind_ = Kind::string;
  v.str_.data = text.data_;
  v.str_.size = text.size_;
  return v;
}

Value Value::array(Arena& arena, std::span<Value> elements) {
  Value v;
  if (!elements.empty()) {
    v.arr_.data = arena.allocate_array<Value>(elements.size());
    std::uninitialized_move(elements.begin(), elements.end(), v.arr_.data);
  }
  v.arr_.size = elements.size();
  v.kind_ = Kind::array;
  return v;
}

Value Value::object(Arena& arena, Map map) {
  Value v;
  v.map_ = new (arena.allocate_array<Map>(1)) Map(std::move(map));
  v.kind_ = Kind::object;
  return v;
}

Value::Value(Value&& other) noexcept
    : kind_(other.kind_), rep_(other.rep_), flag_(other.flag_) {
  // The union's widest members are two words; copy both.
  std::memcpy(static_cast<void*>(&str_), &other.str_, sizeof str_);
  other.kind_ = Kind::null;
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    kind_ = other.kind_;
    rep_ = other.rep_;
    flag_ = other.flag_;
    std::memcpy(static_cast<void*>(&str_), &other.str_, sizeof str_);
    other.kind_ = Kind::null;
  }
  return *this;
}

double Value::number_as_double() const noexcept {
  switch (rep_) {
    case NumberRep::non_negative:
      return static_cast<double>(u_);  // round to nearest, ties to even
    case NumberRep::negative:
      return static_cast<double>(i_);
    case NumberRep::floating:
      break;
  }
  return f_;
}

// ---- Map -------------------------------------------------------------------

Map::Map(Arena& arena) : arena_(&arena), keys_(next_hash_keys()) {}

Map::Map(Map&& other) noexcept
    : arena_(other.arena_),
      members_(std::exchange(other.members_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      index_(std::exchange(other.index_, nullptr)),
      index_mask_(std::exchange(other.index_mask_, 0)),
      keys_(other.keys_) {}

Map& Map::operator=(Map&& other) noexcept {
  if (this != &other) {
    this->~Map();
    new (this) Map(std::move(other));
  }
  return *this;
}

void Map::reserve(size_t members) {
  if (members <= capacity_) return;
  if (members >= kEmptySlot) throw std::length_error("object has too many members");
  Member* storage = arena_->allocate_array<Member>(members);
  std::uninitialized_move_n(members_, size_, storage);
  members_ = storage;
  capacity_ = static_cast<uint32_t>(members);
}

void Map::append(Member member) {
  if (size_ == capacity_) reserve(capacity_ < 4 ? 4 : 2 * size_t{capacity_});
  new (&members_[size_]) Member(std::move(member));
  ++size_;
}

// Empty strings own no allocation, so their data may be null: no memcmp then.
static bool same_key(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

std::optional<size_t> Map::find_linear(std::string_view key) const noexcept {
  for (size_t i = 0; i < size_; ++i) {
    if (same_key(members_[i].key.view(), key)) return i;
  }
  return std::nullopt;
}

std::optional<size_t> Map::find(std::string_view key, uint64_t hash) const noexcept {
  for (size_t slot = hash & index_mask_;; slot = (slot + 1) & index_mask_) {
    uint32_t position = index_[slot];
    if (position == kEmptySlot) return std::nullopt;
    const Member& m = members_[position];
    if (m.hash == hash && same_key(m.key.view(), key)) return position;
  }
}

std::optional<size_t> Map::position_of(std::string_view key) const noexcept {
  if (!index_) return find_linear(key);
  return find(key, siphash13(keys_, key.data(), key.size()));
}

const Value* Map::get(std::string_view key) const noexcept {
  std::optional<size_t> position = position_of(key);
  return position ? &members_[*position].value : nullptr;
}

void Map::index_position(uint32_t position) noexcept {
  size_t slot = members_[position].hash & index_mask_;
  while (index_[slot] != kEmptySlot) slot = (slot + 1) & index_mask_;
  index_[slot] = position;
}

// Rebuilds the index with `slots` slots (a power of two) from the stored
// hashes; keys are never hashed twice.
void Map::build_index(size_t slots) {
  index_ = arena_->allocate_array<uint32_t>(slots);
  std::fill_n(index_, slots, kEmptySlot);
  index_mask_ = slots - 1;
  for (uint32_t i = 0; i < size_; ++i) index_position(i);
}

size_t Map::insert_full(String key, Value value) {
  if (!index_ && size_ < kLinearLimit) {
    if (auto position = find_linear(key.view())) {
      members_[*position].value = std::move(value);
      return *position;
    }
    append(Member{key, std::move(value), 0});
    return size_ - 1;
  }

  if (!index_) {
    // Growing past the linear limit: hash the members once and index them.
    for (Member& m : members()) m.hash = siphash13(keys_, m.key.view().data(), m.key.view().size());
    build_index(4 * kLinearLimit);
  }
  const uint64_t hash = siphash13(keys_, key.view().data(), key.view().size());
  if (auto position = find(key.view(), hash)) {
    members_[*position].value = std::move(value);
    return *position;
  }
  append(Member{key, std::move(value), hash});
  const size_t position = size_ - 1;
  if (2 * size_t{size_} > index_mask_ + 1) {
    build_index(2 * (index_mask_ + 1));
  } else {
    index_position(static_cast<uint32_t>(position));
  }
  return position;
}

// ---- Equality --------------------------------------------------------------

bool eq(const Value& a, const Value& b) noexcept {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::null:
      return true;
    case Kind::boolean:
      return a.as_bool() == b.as_bool();
    case Kind::number:
      if (a.number_rep() != b.number_rep()) return false;
      switch (a.number_rep()) {
        case NumberRep::non_negative:
          return a.as_u64() == b.as_u64();
        case NumberRep::negative:
          return a.as_i64() == b.as_i64();
        case NumberRep::floating:
          return a.as_f64() == b.as_f64();
      }
      return false;
    case Kind::string:
      return same_key(a.as_string(), b.as_string());
    case Kind::array: {
      auto xs = a.as_array(), ys = b.as_array();
      if (xs.size() != ys.size()) return false;
      for (size_t i = 0; i < xs.size(); ++i) {
        if (!eq(xs[i], ys[i])) return false;
      }
      return true;
    }
    case Kind::object: {
      const Map &x = a.as_object(), &y = b.as_object();
      if (x.size() != y.size()) return false;
      for (const Member& m : x) {
        const Value* other = y.get(m.key.view());
        if (!other || !eq(m.value, *other)) return false;
      }
      return true;
    }
  }
  return false;
}

}  // namespace vornel::json
