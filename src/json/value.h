// The in-memory JSON value: six kinds, numbers in three representations, and
// objects as insertion-ordered maps with a keyed hash index.
//
// Everything a value refers to (text, elements, members) lives in an Arena,
// which must outlive the value; values are never freed one by one, so they
// have no destructors to run. Nothing is shared between values and there are
// no cycles. Values are move-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "memory/arena.h"
#include "json/siphash.h"

namespace vornel::json {

// Every value of one document lives in that document's arena.
using memory::Arena;

class Map;

enum class Kind : uint8_t { null, boolean, number, string, array, object };

// The representation is part of a number's value: 1 and 1.0 are different
// values, and so are 0 and -0.0.
enum class NumberRep : uint8_t {
  non_negative,  // uint64_t, 0 to 2^64-1
  negative,      // int64_t, -2^63 to -1; never zero or positive
  floating,      // finite binary64, never NaN or infinite
};

// UTF-8 text of exact length, held in an Arena; may hold NUL bytes. A String
// is a reference: copying it copies no text.
class String {
 public:
  String() noexcept = default;
  // A copy of `text` made in `arena`.
  String(Arena& arena, std::string_view text);
  // Refers to `text` itself, which must outlive the String.
  static String borrow(std::string_view text) noexcept { return String(text.data(), text.size()); }

  std::string_view view() const noexcept { return {data_, size_}; }

 private:
  String(const char* data, size_t size) noexcept : data_(data), size_(size) {}
  friend class Value;
  const char* data_ = nullptr;
  size_t size_ = 0;
};

class Value {
 public:
  Value() noexcept : kind_(Kind::null), str_{nullptr, 0} {}
  static Value boolean(bool flag) noexcept;
  static Value non_negative(uint64_t n) noexcept;
  static Value negative(int64_t n) noexcept;  // n < 0
  static Value floating(double f) noexcept;   // finite
  static Value string(String text) noexcept;
  static Value string(Arena& arena, std::string_view text) { return string(String(arena, text)); }
  // An array of exactly `elements.size()` elements, moved out of `elements`.
  static Value array(Arena& arena, std::span<Value> elements);
  static Value object(Arena& arena, Map map);

  // A moved-from value is null.
  Value(Value&& other) noexcept;
  Value& operator=(Value&& other) noexcept;
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  ~Value() = default;

  Kind kind() const noexcept { return kind_; }
  bool is_null() const noexcept { return kind_ == Kind::null; }
  bool is_object() const noexcept { return kind_ == Kind::object; }

  bool as_bool() const noexcept { return flag_; }
  NumberRep number_rep() const noexcept { return rep_; }
  uint64_t as_u64() const noexcept { return u_; }
  int64_t as_i64() const noexcept { return i_; }
  double as_f64() const noexcept { return f_; }
  // The number's value as a double: a float unchanged, an integer rounded to
  // nearest, ties to even (9007199254740993 becomes 9007199254740992.0).
  double number_as_double() const noexcept;

  std::string_view as_string() const noexcept { return {str_.data, str_.size}; }
  std::span<const Value> as_array() const noexcept { return {arr_.data, arr_.size}; }
  const Map& as_object() const noexcept { return *map_; }
  Map& as_object() noexcept { return *map_; }

 private:
  Kind kind_;
  NumberRep rep_ = NumberRep::non_negative;
  bool flag_ = false;
  struct Text {
    const char* data;
    size_t size;
  };
  struct Elements {
    Value* data;
    size_t size;
  };
  union {
    uint64_t u_;
    int64_t i_;
    double f_;
    Text str_;
    Elements arr_;
    Map* map_;
  };
};

// One member of a Map. `hash` is the key's SipHash under the map's keys once
// the map has an index, and 0 before (small maps never hash).
struct Member {
  String key;
  Value value;
  uint64_t hash = 0;
};

// An object's members in insertion order, keys unique, with lookup by key.
//
// Members are stored contiguously in the map's arena; the index is an
// open-addressing table of member positions (linear probing, at most half
// full) built only once the map outgrows `kLinearLimit` members, with room
// for twice that many before it first grows. Up to that size a scan
// comparing lengths then bytes beats hashing, and no hash is computed at
// all. Growing leaves the old storage to the arena, so a map built from a
// known number of members should `reserve` it first.
//
// kLinearLimit, measured on the 2-core EPYC VM of docs/benchmarks.md by
// building maps and finding each key once (ns per member): hashing costs
// 41-50 whatever the size. The scan costs 23-33 up to 32 members on names as
// API rows have them, whose lengths mostly differ so that most comparisons
// stop at the length; on names of one length ("field_10", "field_11", ...)
// it grows from 29 at 4 members to 33 at 8, 41 at 14 and 49 at 16, where
// hashing wins. 8 stays below that break-even with a margin.
//
// Positions are 32 bits: reserving 2^32 - 1 members or more, or appending
// beyond 2^31 members to a map reserved for fewer, throws
// std::length_error("object has too many members").
class Map {
 public:
  static constexpr size_t kLinearLimit = 8;

  explicit Map(Arena& arena);  // takes a fresh pair of hash keys
  // A moved-from map is empty.
  Map(Map&& other) noexcept;
  Map& operator=(Map&& other) noexcept;
  ~Map() = default;

  size_t size() const noexcept { return size_; }
  std::span<const Member> members() const noexcept { return {members_, size_}; }
  std::span<Member> members() noexcept { return {members_, size_}; }
  const Member* begin() const noexcept { return members_; }
  const Member* end() const noexcept { return members_ + size_; }

  const Value* get(std::string_view key) const noexcept;
  // The position of the member with this key, if there is one.
  std::optional<size_t> position_of(std::string_view key) const noexcept;
  Value* get(std::string_view key) noexcept {
    return const_cast<Value*>(std::as_const(*this).get(key));
  }

  // Appends (key, value), or, when a member with this key exists, replaces its
  // value in place (keeping its position and key). Returns the position.
  size_t insert_full(String key, Value value);

  void reserve(size_t members);

 private:
  static constexpr uint32_t kEmptySlot = UINT32_MAX;

  std::optional<size_t> find(std::string_view key, uint64_t hash) const noexcept;
  std::optional<size_t> find_linear(std::string_view key) const noexcept;
  void append(Member member);
  void build_index(size_t slots);
  void index_position(uint32_t position) noexcept;

  Arena* arena_;
  Member* members_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
  uint32_t* index_ = nullptr;  // null while size() <= kLinearLimit
  size_t index_mask_ = 0;      // slot count - 1
  HashKeys keys_;
};

// Equality of the value model: kinds and number representations must match,
// floats compare by IEEE equality (0.0 == -0.0), objects regardless of member
// order.
bool eq(const Value& a, const Value& b) noexcept;

}  // namespace vornel::json
