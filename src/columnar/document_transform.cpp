// The document path: the whole payload read into values, then transformed
// and written. The row reader and this path must agree on every byte; this
// one is the reference, and it gives the exact message for every payload
// the row reader leaves to it.
#include "columnar/document_transform.h"

#include <cstdint>
#include <string>
#include <vector>

#include "columnar/refusals.h"
#include "json/reader.h"

namespace vornel::columnar {
namespace {

using json::Kind;
using json::Map;
using json::Member;
using json::Value;

// What one pass over every member learns about a column.
struct ObservedColumn {
  std::string_view name;
  const Value* reference = nullptr;  // its value in the first row; null if absent
  size_t present = 0;                // rows holding the name
  bool any_non_null = false;
  bool all_match = true;  // every value seen so far matches the reference
};

bool is_integer(const Value& number) { return number.number_rep() != json::NumberRep::floating; }

// Top-level numbers match by their values as doubles (1 matches 1.0, 0
// matches -0.0), except that two integers match only when they are the same
// integer: ids above 2^53 that round to one double must not collapse into
// one constant. Everything else, nested numbers included, matches by eq.
bool matches(const Value& candidate, const Value& reference) {
  if (candidate.kind() == Kind::number && reference.kind() == Kind::number) {
    // Each integer has exactly one representation, so eq is exact here.
    if (is_integer(candidate) && is_integer(reference)) return json::eq(candidate, reference);
    return candidate.number_as_double() == reference.number_as_double();
  }
  return json::eq(candidate, reference);
}

// Assigns every member of every row its column, in order of first
// appearance, and gathers what the null and constant tests need.
//
// Rows of one payload usually list their keys in the same order, so the
// column that the previous row had at the same position is tried first; only
// a miss asks the seen-name set, a SipHash-keyed Map whose values are column
// numbers.
class ColumnIndex {
 public:
  ColumnIndex(std::span<const Value> rows, json::Arena& arena) : seen_(arena) {
    size_t members = 0;
    for (const Value& row : rows) members += row.as_object().size();
    member_columns_ = {arena.allocate_array<uint32_t>(members), members};

    std::span<const uint32_t> previous;  // the previous row's columns
    size_t next = 0;
    for (const Value& row : rows) {
      const size_t start = next;
      for (const Member& member : row.as_object()) {
        const size_t position = next - start;
        const uint32_t guess = position < previous.size() ? previous[position] : kNone;
        const uint32_t column = column_of(member.key.view(), guess);
        member_columns_[next++] = column;
        observe(columns_[column], member.value, &row == &rows.front());
      }
      previous = member_columns_.subspan(start, next - start);
    }
  }

  std::span<const ObservedColumn> columns() const { return columns_; }
  // The column of each member, row after row, in member order.
  std::span<const uint32_t> member_columns() const { return member_columns_; }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;

  uint32_t column_of(std::string_view name, uint32_t guess) {
    if (guess != kNone && columns_[guess].name == name) return guess;
    if (const Value* found = seen_.get(name)) return static_cast<uint32_t>(found->as_u64());
    // Fits: the seen-name map refuses more than 2^31 names first.
    const auto column = static_cast<uint32_t>(columns_.size());
    seen_.insert_full(json::String::borrow(name), Value::non_negative(column));
    columns_.push_back(ObservedColumn{name});
    return column;
  }

  static void observe(ObservedColumn& column, const Value& value, bool first_row) {
    ++column.present;
    column.any_non_null |= !value.is_null();
    if (first_row) {
      column.reference = &value;
    } else if (column.all_match) {
      column.all_match = column.reference != nullptr && matches(value, *column.reference);
    }
  }

  Map seen_;
  std::vector<ObservedColumn> columns_;
  std::span<uint32_t> member_columns_;  // in the arena, which keeps large blocks in huge pages
};

// A column is constant when every row holds a value matching the first
// row's. Absent counts as null, and an all-null column has already gone, so a
// constant column is present in every row.
bool becomes_constant(const ObservedColumn& column, size_t rows) {
  return rows >= 2 && column.all_match && column.present == rows;
}

void write_document(std::span<const Value> rows, const ColumnIndex& index, json::ByteBuffer& out) {
  constexpr uint32_t kDropped = UINT32_MAX;
  std::span<const ObservedColumn> columns = index.columns();
  std::vector<uint32_t> output_position(columns.size(), kDropped);
  size_t kept = 0;

  out.append(R"({"columns":[)");
  for (size_t c = 0; c < columns.size(); ++c) {
    if (!columns[c].any_non_null || becomes_constant(columns[c], rows.size())) continue;
    if (kept != 0) out.push_back(',');
    json::serialize_str(columns[c].name, out);
    output_position[c] = static_cast<uint32_t>(kept++);
  }

  out.append(R"(],"rows":[)");
  std::vector<const Value*> cells(kept);
  // Sparse rows are mostly absent cells: each run of them is written as one
  // block cut from ",null" repeated once per column.
  std::string null_cells;
  null_cells.reserve(5 * kept);
  for (size_t c = 0; c < kept; ++c) null_cells += ",null";
  std::span<const uint32_t> member_columns = index.member_columns();
  for (size_t r = 0; r < rows.size(); ++r) {
    std::fill(cells.begin(), cells.end(), nullptr);
    for (const Member& member : rows[r].as_object()) {
      const uint32_t position = output_position[member_columns.front()];
      member_columns = member_columns.subspan(1);
      if (position != kDropped) cells[position] = &member.value;
    }
    if (r != 0) out.push_back(',');
    out.push_back('[');
    for (size_t c = 0; c < kept;) {
      if (cells[c] != nullptr) {
        if (c != 0) out.push_back(',');
        json::write_value(*cells[c++], out);
        continue;
      }
      const size_t first = c;
      while (c < kept && cells[c] == nullptr) ++c;
      const std::string_view run(null_cells.data(), 5 * (c - first));
      out.append(first == 0 ? run.substr(1) : run);  // no comma before the first cell
    }
    out.push_back(']');
  }

  out.append(R"(],"constants":{)");
  bool first = true;
  for (const ObservedColumn& column : columns) {
    if (!column.any_non_null || !becomes_constant(column, rows.size())) continue;
    if (!first) out.push_back(',');
    first = false;
    json::serialize_str(column.name, out);
    out.push_back(':');
    json::write_value(*column.reference, out);
  }
  out.append("}}");
}

}  // namespace

Outcome columnarize_document(std::string_view payload) {
  json::Arena arena(payload.size() / 2);
  auto read = json::read_value_list(payload, arena);
  if (auto* error = std::get_if<json::Error>(&read)) {
    return std::string(kInvalidPayloadPrefix) + error->text();
  }
  const std::vector<Value>& rows = std::get<std::vector<Value>>(read);
  for (const Value& row : rows) {
    if (!row.is_object()) return std::string(kNotAnObjectPrefix) + json::display_value(row);
  }

  const ColumnIndex index(rows, arena);
  json::ByteBuffer out;
  // The output is usually a little smaller than the payload. Starting at that
  // size spares the doublings through small blocks, whose memory arrives one
  // page fault per 4 KiB; untouched capacity costs only address space.
  out.reserve_more(payload.size());
  write_document(rows, index, out);
  return out;
}

}  // namespace vornel::columnar
