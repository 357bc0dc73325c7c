// The row reader itself, a template over the scanner of json/scan.h.
//
// Included once per scanner by the files that instantiate it. The AVX2 file
// includes it with AVX2 code generation switched on, so everything defined
// here must either depend on the scanner or have internal linkage: a plain
// inline function compiled there would be AVX2 code that the linker might
// pick for everyone.
//
// One pass over the payload: the rows' brackets, keys and separators here,
// each member value through the value scanner, which also makes the
// writer's text of the values whose text is not already the writer's. Each
// non-null value becomes a cell, where it lies or where its writer's text
// is. Nothing is reported: anything unusual returns false and leaves the
// payload to the document path, which knows every message.
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "columnar/cell_match.h"
#include "columnar/row_reader.h"
#include "columnar/value_scanner.h"
#include "json/lexical.h"
#include "json/scan.h"

namespace vornel::columnar {

template <class Scan>
class RowReader {
 public:
  explicit RowReader(PlanState& state)
      : state_(state),
        begin_(state.payload.data()),
        p_(begin_),
        end_(begin_ + state.payload.size()),
        previous_columns_(state.reader.previous_columns),
        current_columns_(state.reader.current_columns),
        values_(begin_, end_, state.rewrites, state.reader) {}

  bool read() {
    skip_whitespace();
    if (p_ == end_ || *p_ != '[') return false;
    ++p_;
    skip_whitespace();
    if (p_ != end_ && *p_ == ']') return closes_payload();
    for (uint64_t row = 0;; ++row) {
      if (p_ == end_ || *p_ != '{' || !read_row(row)) return false;
      skip_whitespace();
      if (p_ == end_) return false;
      if (*p_ == ']') return closes_payload();
      if (*p_ != ',') return false;
      ++p_;
      skip_whitespace();
    }
  }

 private:
  // Compact text has no whitespace between tokens, and spaced text mostly a
  // single space (", " and ": "): two tests, and the scanner only for real
  // runs such as indentation.
  [[gnu::always_inline]] void skip_whitespace() noexcept {
    if (p_ == end_ || !json::is_whitespace(*p_)) return;
    ++p_;
    if (p_ != end_ && json::is_whitespace(*p_)) p_ = Scan::skip_whitespace(p_ + 1, end_);
  }
  bool closes_payload() {
    ++p_;
    skip_whitespace();
    return p_ == end_;
  }

  bool read_row(uint64_t row) {
    ++p_;  // '{'
    const size_t first_cell = state_.cells.size();
    current_columns_.clear();
    // Whether the row's cells come in column order, each column after the
    // one before: the writer then takes them as they are.
    bool in_column_order = true;
    uint32_t last_column = 0;
    skip_whitespace();
    if (p_ == end_) return false;
    if (*p_ != '}') {
      for (size_t position = 0;; ++position) {
        if (*p_ != '"') return false;
        uint32_t column = expected_key(position);
        if (column == ColumnTable::kNoColumn) {
          const char* const key_begin = p_;
          bool escaped;
          if (!values_.scan_key(p_, escaped)) return false;
          column = column_of({key_begin + 1, static_cast<size_t>(p_ - key_begin - 2)}, escaped, position, row == 0);
        }
        in_column_order &= position == 0 || column > last_column;
        last_column = column;
        current_columns_.push_back(column);
        skip_whitespace();
        if (p_ == end_ || *p_ != ':') return false;
        ++p_;
        skip_whitespace();
        ScannedValue value;
        if (p_ == end_ || !values_.scan_member(p_, 2, value) || !record(column, row, value)) return false;
        skip_whitespace();
        if (p_ == end_) return false;
        if (*p_ == '}') break;
        if (*p_ != ',') return false;
        ++p_;
        skip_whitespace();
        if (p_ == end_) return false;
      }
    }
    ++p_;  // '}'
    previous_columns_.swap(current_columns_);
    const size_t cells = state_.cells.size() - first_cell;
    if (cells > UINT32_MAX) return false;
    state_.rows.push_back({static_cast<uint32_t>(cells), in_column_order});
    return true;
  }

  // Rows of one payload mostly list the same keys in the same order. When
  // the key at `p_` is, byte for byte, the name of the previous row's column
  // at this position, that column is its column: the key needs no scanning
  // or checking, and `p_` moves past it.
  uint32_t expected_key(size_t position) noexcept {
    if (position >= previous_columns_.size()) return ColumnTable::kNoColumn;
    const uint32_t column = previous_columns_[position];
    const Column& expected = state_.columns.columns()[column];
    const size_t length = expected.name.size();
    if (expected.key_in_words && end_ - p_ > 16) {
      const uint64_t low = json::scan::load_le64(p_ + 1) ^ expected.key_words[0];
      const uint64_t high = json::scan::load_le64(p_ + 9) ^ expected.key_words[1];
      if (((low & expected.key_masks[0]) | (high & expected.key_masks[1])) != 0) return ColumnTable::kNoColumn;
    } else if (!expected.raw_comparable || static_cast<size_t>(end_ - p_) < length + 2 || p_[length + 1] != '"' ||
               (length != 0 && std::memcmp(p_ + 1, expected.name.data(), length) != 0)) {
      return ColumnTable::kNoColumn;
    }
    p_ += length + 2;
    return column;
  }

  // The key's column, when expected_key did not find it: the table's.
  // `name` is the key's text between its quotes, decoded here when it holds
  // escapes; then it may still name the previous row's column at this
  // position, which expected_key compared with the raw text only.
  uint32_t column_of(std::string_view name, bool escaped, size_t position, bool first_row) {
    if (escaped) {
      state_.reader.decoded_key.clear();
      json::decode_string_content(name, state_.reader.decoded_key);
      name = state_.reader.decoded_key;
      if (position < previous_columns_.size() && state_.columns.is(previous_columns_[position], name)) {
        return previous_columns_[position];
      }
    }
    return state_.columns.find_or_add(name, escaped, first_row);
  }

  // Files a member's value under its column for this row, and counts it
  // in the column's statistics. A repeated key keeps the cell of its first
  // occurrence and takes the later value, which replaces the earlier one in
  // the statistics too.
  [[gnu::always_inline]] bool record(uint32_t column_number, uint64_t row, const ScannedValue& value) {
    Cell cell{0, 0, column_number};
    if (value.kind != ValueKind::null) {
      const uint64_t length = value.rewritten ? state_.rewrites.size() - value.rewritten_at
                                              : static_cast<uint64_t>(value.end - value.begin);
      if (length > UINT32_MAX) return false;
      cell.offset = value.rewritten ? Cell::kRewritten | value.rewritten_at : static_cast<uint64_t>(value.begin - begin_);
      cell.length = static_cast<uint32_t>(length);
    }
    Column& column = state_.columns.columns()[column_number];
    if (column.last_row != row) {
      column.last_row = row;
      column.last_cell = kNoCell;
    } else if (column.last_cell != kNoCell) {
      uncount(column, column.last_cell, row);
    }
    if (value.kind == ValueKind::null) {
      if (column.last_cell != kNoCell) state_.cells[column.last_cell].length = 0;  // cleared
      return true;
    }
    if (column.last_cell == kNoCell) {
      column.last_cell = state_.cells.push(cell);
    } else {
      state_.cells[column.last_cell] = cell;
    }
    count(column, column.last_cell, row);
    return true;
  }

  // The statistics of a column with one more row's value, at `cell_index`.
  // The constant test stops comparing a column at its first mismatch.
  void count(Column& column, uint64_t cell_index, uint64_t row) {
    ++column.non_null_rows;
    column.text_bytes += state_.cells[cell_index].length;
    column.all_match_before_row = column.all_match;
    if (row == 0) {
      column.reference_cell = cell_index;
    } else if (column.all_match) {
      column.all_match = column.reference_cell != kNoCell && matches_reference(column, cell_index);
    }
  }

  // Takes back the count of a value that a repeated key replaces.
  void uncount(Column& column, uint64_t cell_index, uint64_t row) noexcept {
    const Cell& cell = state_.cells[cell_index];
    if (cell.cleared()) return;
    --column.non_null_rows;
    column.text_bytes -= cell.length;
    column.all_match = column.all_match_before_row;
    if (row == 0) column.reference_cell = kNoCell;
    for (uint64_t& matched : column.matched_cells) {
      if (matched == cell_index) matched = kNoCell;  // its text is about to change
    }
  }

  bool matches_reference(Column& column, uint64_t cell_index) {
    const Cell& cell = state_.cells[cell_index];
    const std::string_view text = state_.text_of(cell);
    if (text == state_.text_of(state_.cells[column.reference_cell])) return true;
    for (const uint64_t matched : column.matched_cells) {
      if (matched != kNoCell && text == state_.text_of(state_.cells[matched])) return true;
    }
    if (!cells_match(state_, cell, state_.cells[column.reference_cell])) return false;
    column.matched_cells[column.next_matched++ % Column::kMatchedTexts] = cell_index;
    return true;
  }

  PlanState& state_;
  const char* const begin_;
  const char* p_;
  const char* const end_;
  std::vector<uint32_t>& previous_columns_;  // the previous row's column at each position
  std::vector<uint32_t>& current_columns_;
  ValueScanner<Scan> values_;
};

}  // namespace vornel::columnar
