// The columns of a document: their names in order of first appearance, the
// lookup from a member's key to its column, and what the rows showed of each.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "json/siphash.h"

namespace vornel::columnar {

inline constexpr uint64_t kNoCell = UINT64_MAX;

struct Column {
  std::string_view name;  // decoded; in the payload, or in the table's arena
  uint64_t hash;          // SipHash of the name under the table's keys
  // The name holds no '"', '\\' or control byte, so a key in the payload
  // whose raw bytes are the name followed by '"' is this name.
  bool raw_comparable;
  // When the name and its closing quote fit in 16 bytes: those bytes as two
  // little-endian words, and a mask of the bytes that count in each, so
  // that a key is compared with two loads instead of a call.
  bool key_in_words = false;
  std::array<uint64_t, 2> key_words{};
  std::array<uint64_t, 2> key_masks{};

  // While reading: the last row that held the key, and its cell there
  // (kNoCell while that row's value is null). A key repeated within a row
  // is found through this stamp, without a table per row.
  uint64_t last_row = UINT64_MAX;
  uint64_t last_cell = kNoCell;

  // What the rows showed: rows with a non-null value, the length of their
  // texts, the first row's cell, and whether every row so far matches it.
  uint64_t non_null_rows = 0;
  uint64_t text_bytes = 0;
  uint64_t reference_cell = kNoCell;
  bool all_match = true;
  bool all_match_before_row = true;  // as it stood before the current row's value

  // Cells whose texts differ from the reference's but matched it (an object
  // with its members in another order): a later cell with one of these
  // texts matches without a closer look. Rows that shuffle a constant
  // object's members have few distinct orders: an object of three members
  // has six, which four kept texts and the reference's cover but one of.
  static constexpr size_t kMatchedTexts = 4;
  std::array<uint64_t, kMatchedTexts> matched_cells{kNoCell, kNoCell, kNoCell, kNoCell};
  uint8_t next_matched = 0;
};

// Columns in order of first appearance, found by name through an
// open-addressing table of column numbers (linear probing) hashed with
// SipHash-1-3 under per-thread keys. Rows usually list their keys in the
// same order, so the caller tries the previous row's column at the same
// position first and asks the table only when that guess misses. Rows that
// each hold a different subset of many keys miss it all the time; for them
// a small cache, indexed by a cheap fingerprint of the name, finds most
// names without SipHash.
class ColumnTable {
 public:
  static constexpr uint32_t kNoColumn = UINT32_MAX;

  ColumnTable();

  // Empties the table for the next plan, under fresh hash keys, keeping its
  // storage.
  void clear() noexcept;
  size_t retained_bytes() const noexcept;

  std::vector<Column>& columns() noexcept { return columns_; }

  bool is(uint32_t column, std::string_view name) const noexcept {
    const std::string_view held = columns_[column].name;
    return held.size() == name.size() && (name.empty() || std::memcmp(held.data(), name.data(), name.size()) == 0);
  }

  // The column named `name`, appended when it is new. `name` must outlive
  // the table unless `copy` is set, in which case the table keeps a copy.
  uint32_t find_or_add(std::string_view name, bool copy, bool in_first_row);

 private:
  void grow();

  std::vector<Column> columns_;
  // A power-of-two count of slots, at most half full, each holding a column
  // number in its low half and the high half of the name's hash above, so
  // that a probe rarely needs to look at the column itself.
  std::vector<uint64_t> slots_;
  json::HashKeys keys_;
  // The column last found or added for each line of the fingerprint. An
  // entry is only a guess, checked against the name, so it stays valid
  // from one plan to the next without clearing: a stale one names another
  // column, or one that is not there yet.
  static constexpr int kCacheLineBits = 11;  // 2,048 lines: few of a few hundred names share one
  static size_t cache_line(std::string_view name) noexcept;
  std::array<uint32_t, size_t{1} << kCacheLineBits> recent_;
  // Names decoded from keys with escapes: a deque never moves its strings.
  std::deque<std::string> decoded_names_;
};

}  // namespace vornel::columnar
