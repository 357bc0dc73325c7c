// The row reader itself, a template over the scanner of json/scan.h.
//
// Included once per scanner by the files that instantiate it. The AVX2 file
// includes it with AVX2 code generation switched on, so everything defined
// here must either depend on the scanner or have internal linkage: a plain
// inline function compiled there would be AVX2 code that the linker might
// pick for everyone.
//
// One pass, one decision per byte where the grammar allows it. A value whose
// text is already exactly what the writer would write is recorded where it
// lies; only the others are rewritten, once, into the plan's rewrite buffer:
// floats in another form than the shortest, numbers such as -0 or 1E2,
// strings with escapes the writer would not write, containers with
// whitespace, rewritten content or a repeated key. Nothing is reported:
// anything unusual returns false and leaves the payload to the document
// path, which knows every message.
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "columnar/cell_match.h"
#include "columnar/rewrite.h"
#include "columnar/row_reader.h"
#include "columnar/writer_form.h"
#include "json/number.h"
#include "json/scan.h"
#include "json/utf8.h"
#include "json/writer.h"

namespace vornel::columnar {

template <class Scan>
class RowReader {
 public:
  explicit RowReader(PlanState& state)
      : state_(state),
        rewriter_(state.rewrites),
        begin_(state.payload.data()),
        p_(begin_),
        end_(begin_ + state.payload.size()) {}

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
  // The reader allows 127 open arrays and objects, the top-level array and
  // the row object included.
  static constexpr unsigned kMaxDepth = 127;

  enum class Kind : uint8_t { null, literal, number, string, container };

  // A value's text [begin, end). For a number that is not in the writer's
  // form, `number` holds its value and float_text_ the writer's text.
  struct ValueText {
    const char* begin;
    const char* end;
    Kind kind;
    bool canonical;
    double number;
  };

  struct StringText {
    const char* begin;  // the opening quote
    const char* end;    // after the closing quote
    bool escaped;
    bool canonical;  // every escape is one the writer writes
  };

  // Compact text has no whitespace between tokens, and spaced text mostly a
  // single space (", " and ": "): two tests, and the scanner only for real
  // runs such as indentation.
  void skip_whitespace() noexcept {
    if (p_ == end_ || !json::scan::is_whitespace(*p_)) return;
    ++p_;
    if (p_ != end_ && json::scan::is_whitespace(*p_)) p_ = Scan::skip_whitespace(p_ + 1, end_);
  }
  // Inside a container, whitespace also means the container must be rewritten.
  void skip_whitespace_inside(bool& canonical) noexcept {
    const char* before = p_;
    skip_whitespace();
    canonical &= p_ == before;
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
    skip_whitespace();
    if (p_ == end_) return false;
    if (*p_ != '}') {
      for (size_t position = 0;; ++position) {
        if (*p_ != '"') return false;
        uint32_t column = expected_key(position);
        if (column == ColumnTable::kNoColumn) {
          StringText key;
          if (!scan_string(key)) return false;
          column = column_of(key, position, row == 0);
        }
        current_columns_.push_back(column);
        skip_whitespace();
        if (p_ == end_ || *p_ != ':') return false;
        ++p_;
        skip_whitespace();
        ValueText value;
        if (!scan_value(value, 2) || !record(column, row, value)) return false;
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
    return finish_row(row, first_cell);
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
    if (!expected.raw_comparable || static_cast<size_t>(end_ - p_) < length + 2 || p_[length + 1] != '"' ||
        (length != 0 && std::memcmp(p_ + 1, expected.name.data(), length) != 0)) {
      return ColumnTable::kNoColumn;
    }
    p_ += length + 2;
    return column;
  }

  // The key's column: the previous row's column at this position when the
  // names agree, else the table's.
  uint32_t column_of(const StringText& key, size_t position, bool first_row) {
    std::string_view name(key.begin + 1, static_cast<size_t>(key.end - key.begin) - 2);
    if (key.escaped) {
      key_scratch_.clear();
      decode_string_content(name, key_scratch_);
      name = key_scratch_;
    }
    if (position < previous_columns_.size() && state_.columns.is(previous_columns_[position], name)) {
      return previous_columns_[position];
    }
    return state_.columns.find_or_add(name, key.escaped, first_row);
  }

  // Files a member's value under its column for this row. A repeated key
  // keeps the cell of its first occurrence and takes the later value.
  bool record(uint32_t column_number, uint64_t row, const ValueText& value) {
    Cell cell{0, 0, column_number};
    if (value.kind != Kind::null) {
      uint64_t offset;
      if (value.canonical) {
        offset = static_cast<uint64_t>(value.begin - begin_);
      } else {
        offset = Cell::kRewritten | rewrite(value);
      }
      const uint64_t length = value.canonical ? static_cast<uint64_t>(value.end - value.begin)
                                              : state_.rewrites.size() - (offset & ~Cell::kRewritten);
      if (length > UINT32_MAX) return false;
      cell.offset = offset;
      cell.length = static_cast<uint32_t>(length);
    }
    Column& column = state_.columns.columns()[column_number];
    if (column.last_row != row) {
      column.last_row = row;
      column.last_cell = value.kind == Kind::null ? kNoCell : state_.cells.push(cell);
    } else if (column.last_cell != kNoCell) {
      state_.cells[column.last_cell] = cell;  // a null clears it
    } else if (value.kind != Kind::null) {
      column.last_cell = state_.cells.push(cell);
    }
    return true;
  }

  uint64_t rewrite(const ValueText& value) {
    const std::string_view text(value.begin, static_cast<size_t>(value.end - value.begin));
    switch (value.kind) {
      case Kind::string:
        return rewriter_.string(text);
      case Kind::number:
        return rewriter_.number(value.number, float_text());
      default:
        return rewriter_.container(text);
    }
  }

  // Once a row is complete (repeated keys settled), its cells update their
  // columns' statistics; the constant test stops comparing a column at its
  // first mismatch.
  bool finish_row(uint64_t row, size_t first_cell) {
    const size_t count = state_.cells.size() - first_cell;
    if (count > UINT32_MAX) return false;
    state_.row_sizes.push_back(static_cast<uint32_t>(count));
    std::vector<Column>& columns = state_.columns.columns();
    for (size_t i = first_cell; i < state_.cells.size(); ++i) {
      const Cell& cell = state_.cells[i];
      if (cell.cleared()) continue;
      Column& column = columns[cell.column];
      ++column.non_null_rows;
      column.text_bytes += cell.length;
      if (row == 0) {
        column.reference_cell = i;
      } else if (column.all_match) {
        column.all_match = column.reference_cell != kNoCell && matches_reference(column, i);
      }
    }
    return true;
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

  bool scan_value(ValueText& out, unsigned depth) {
    if (p_ == end_) return false;
    out.begin = p_;
    out.canonical = true;
    switch (*p_) {
      case '"': {
        StringText text;
        if (!scan_string(text)) return false;
        out.kind = Kind::string;
        out.canonical = text.canonical;
        break;
      }
      case 'n':
        if (!scan_literal("null")) return false;
        out.kind = Kind::null;
        break;
      case 't':
        if (!scan_literal("true")) return false;
        out.kind = Kind::literal;
        break;
      case 'f':
        if (!scan_literal("false")) return false;
        out.kind = Kind::literal;
        break;
      case '[':
        if (depth + 1 > kMaxDepth || !scan_array(out.canonical, depth + 1)) return false;
        out.kind = Kind::container;
        break;
      case '{':
        if (depth + 1 > kMaxDepth || !scan_object(out.canonical, depth + 1)) return false;
        out.kind = Kind::container;
        break;
      default:
        if (!scan_number(out)) return false;
        out.kind = Kind::number;
        break;
    }
    out.end = p_;
    return true;
  }

  bool scan_literal(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size() || std::memcmp(p_, word.data(), word.size()) != 0) return false;
    p_ += word.size();
    return true;
  }

  // After the grammar check, an integer is in the writer's form unless it is
  // -0 or lies outside both integer ranges (the reader makes a float of
  // those). A float is when the writer's text for the value read is the
  // same text.
  bool scan_number(ValueText& out) {
    const char* p = p_;
    const bool negative = *p == '-';
    p += negative;
    const char* const digits = p;
    if (p == end_) return false;
    if (*p == '0') {
      ++p;
      if (p != end_ && json::scan::is_digit(*p)) return false;
    } else if (json::scan::is_digit(*p)) {
      p = json::scan::skip_digits(p + 1, end_);
    } else {
      return false;
    }
    const char* const point = p;
    bool is_float = false;
    if (p != end_ && *p == '.') {
      ++p;
      if (p == end_ || !json::scan::is_digit(*p)) return false;
      p = json::scan::skip_digits(p + 1, end_);
      is_float = true;
    }
    const char* const fraction_end = p;
    bool has_exponent = false;
    if (p != end_ && (*p | 0x20) == 'e') {
      ++p;
      if (p != end_ && (*p == '+' || *p == '-')) ++p;
      if (p == end_ || !json::scan::is_digit(*p)) return false;
      p = json::scan::skip_digits(p + 1, end_);
      has_exponent = true;
    }
    if (is_float ? !has_exponent && short_plain_float_in_writer_form(digits, point, fraction_end)
                 : !has_exponent && integer_in_writer_form(digits, static_cast<size_t>(point - digits), negative)) {
      p_ = p;
      return true;
    }
    size_t cursor = static_cast<size_t>(digits - begin_);
    json::Value number;
    json::NumberFailure failure;
    if (!json::read_number(state_.payload, cursor, negative, number, failure)) return false;
    out.number = number.as_f64();
    float_text_length_ = static_cast<size_t>(json::write_f64(out.number, float_text_) - float_text_);
    const auto length = static_cast<size_t>(p - p_);
    out.canonical = float_text_length_ == length && std::memcmp(float_text_, p_, length) == 0;
    p_ = p;
    return true;
  }

  std::string_view float_text() const noexcept { return {float_text_, float_text_length_}; }

  bool scan_string(StringText& out) {
    const char* p = p_ + 1;
    bool non_ascii = false;
    out.escaped = false;
    out.canonical = true;
    for (;;) {
      p = Scan::find_string_stop(p, end_, non_ascii);
      if (p == end_) return false;
      if (*p == '"') break;
      if (*p != '\\') return false;  // a control character
      out.escaped = true;
      if (!scan_escape(p, out.canonical)) return false;
    }
    ++p;
    // Escapes are ASCII, so the raw text is valid UTF-8 exactly when the
    // decoded text is.
    if (non_ascii && !json::is_valid_utf8<Scan>(p_ + 1, p - 1)) return false;
    out.begin = p_;
    out.end = p;
    p_ = p;
    return true;
  }

  // `p` is at a backslash; moves it past the escape, which must be valid.
  bool scan_escape(const char*& p, bool& canonical) const noexcept {
    if (end_ - p < 2) return false;
    switch (p[1]) {
      case '"':
      case '\\':
      case '/':
      case 'b':
      case 'f':
      case 'n':
      case 'r':
      case 't':
        canonical &= escape_in_writer_form(p, 2);
        p += 2;
        return true;
      case 'u':
        break;
      default:
        return false;
    }
    if (end_ - p < 6) return false;
    const int cp = json::scan::hex4_value(p + 2);
    if (cp < 0 || (cp >= 0xDC00 && cp <= 0xDFFF)) return false;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (end_ - p < 12 || p[6] != '\\' || p[7] != 'u') return false;
      const int low = json::scan::hex4_value(p + 8);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      canonical = false;  // the writer writes the character itself
      p += 12;
      return true;
    }
    canonical &= escape_in_writer_form(p, 6);
    p += 6;
    return true;
  }

  bool scan_array(bool& canonical, unsigned depth) {
    ++p_;  // '['
    skip_whitespace_inside(canonical);
    if (p_ == end_) return false;
    if (*p_ == ']') {
      ++p_;
      return true;
    }
    for (;;) {
      ValueText element;
      if (!scan_value(element, depth)) return false;
      canonical &= element.canonical;
      skip_whitespace_inside(canonical);
      if (p_ == end_) return false;
      if (*p_ == ']') {
        ++p_;
        return true;
      }
      if (*p_ != ',') return false;
      ++p_;
      skip_whitespace_inside(canonical);
    }
  }

  bool scan_object(bool& canonical, unsigned depth) {
    ++p_;  // '{'
    std::vector<std::string_view>& keys = keys_at_depth_[depth];
    keys.clear();
    skip_whitespace_inside(canonical);
    if (p_ == end_) return false;
    if (*p_ == '}') {
      ++p_;
      return true;
    }
    for (;;) {
      StringText key;
      if (*p_ != '"' || !scan_string(key)) return false;
      canonical &= key.canonical;
      keys.emplace_back(key.begin, static_cast<size_t>(key.end - key.begin));
      skip_whitespace_inside(canonical);
      if (p_ == end_ || *p_ != ':') return false;
      ++p_;
      skip_whitespace_inside(canonical);
      ValueText value;
      if (!scan_value(value, depth)) return false;
      canonical &= value.canonical;
      skip_whitespace_inside(canonical);
      if (p_ == end_) return false;
      if (*p_ == '}') break;
      if (*p_ != ',') return false;
      ++p_;
      skip_whitespace_inside(canonical);
      if (p_ == end_) return false;
    }
    ++p_;
    // Keys in the writer's form are equal exactly when their texts are.
    if (canonical && has_repeated_key(keys)) canonical = false;
    return true;
  }

  PlanState& state_;
  Rewriter rewriter_;
  const char* const begin_;
  const char* p_;
  const char* const end_;
  std::vector<uint32_t> previous_columns_;  // the previous row's column at each position
  std::vector<uint32_t> current_columns_;
  std::string key_scratch_;
  std::array<std::vector<std::string_view>, kMaxDepth + 1> keys_at_depth_;
  char float_text_[json::kFloatScratch];
  size_t float_text_length_ = 0;
};

}  // namespace vornel::columnar
