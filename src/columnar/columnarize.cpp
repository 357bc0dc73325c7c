#include "columnar/columnarize.h"

#include <vector>

#include "json/reader.h"

namespace vornel::columnar {
namespace {

using json::Kind;
using json::Map;
using json::Value;

const Value kNull;

// Finds a column's value in successive rows. Rows of one payload usually hold
// their keys at the same positions, so the position found in the previous row
// is tried first; a miss falls back to the map's own lookup.
class ColumnLookup {
 public:
  explicit ColumnLookup(std::string_view name) : name_(name) {}

  // The column's value in `row`, or null when the row lacks the name.
  const Value& in(const Map& row) {
    auto members = row.members();
    if (hint_ < members.size() && members[hint_].key.view() == name_) return members[hint_].value;
    std::optional<size_t> position = row.position_of(name_);
    if (!position) return kNull;
    hint_ = *position;
    return members[*position].value;
  }

 private:
  std::string_view name_;
  size_t hint_ = 0;
};

// Top-level numbers match by their values as doubles (1 matches 1.0, 0
// matches -0.0); everything else, nested numbers included, by eq.
bool matches(const Value& candidate, const Value& reference) {
  if (candidate.kind() == Kind::number && reference.kind() == Kind::number) {
    return candidate.number_as_double() == reference.number_as_double();
  }
  return json::eq(candidate, reference);
}

bool is_all_null(std::string_view name, std::span<const Value> rows) {
  ColumnLookup lookup(name);
  for (const Value& row : rows) {
    if (!lookup.in(row.as_object()).is_null()) return false;
  }
  return true;
}

bool is_constant(std::string_view name, std::span<const Value> rows) {
  ColumnLookup lookup(name);
  const Value& reference = lookup.in(rows.front().as_object());
  for (const Value& row : rows.subspan(1)) {
    if (!matches(lookup.in(row.as_object()), reference)) return false;
  }
  return true;
}

// Column names in order of first appearance. The seen-name set is a Map whose
// values are unused: SipHash-keyed per thread, one lookup per member.
std::vector<std::string_view> discover_columns(std::span<const Value> rows) {
  std::vector<std::string_view> columns;
  Map seen;
  for (const Value& row : rows) {
    for (const json::Member& member : row.as_object()) {
      if (seen.get(member.key.view()) == nullptr) {
        seen.insert_full(json::String(member.key.view()), Value());
        columns.push_back(member.key.view());
      }
    }
  }
  return columns;
}

void write_document(std::span<const Value> rows, std::span<const std::string_view> columns,
                    std::span<const std::string_view> constants, json::ByteBuffer& out) {
  out.append(R"({"columns":[)");
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i != 0) out.push_back(',');
    json::serialize_str(columns[i], out);
  }
  out.append(R"(],"rows":[)");
  std::vector<ColumnLookup> lookups(columns.begin(), columns.end());
  for (size_t r = 0; r < rows.size(); ++r) {
    if (r != 0) out.push_back(',');
    out.push_back('[');
    for (size_t c = 0; c < lookups.size(); ++c) {
      if (c != 0) out.push_back(',');
      json::write_value(lookups[c].in(rows[r].as_object()), out);
    }
    out.push_back(']');
  }
  out.append(R"(],"constants":{)");
  for (size_t i = 0; i < constants.size(); ++i) {
    if (i != 0) out.push_back(',');
    json::serialize_str(constants[i], out);
    out.push_back(':');
    json::write_value(*rows.front().as_object().get(constants[i]), out);
  }
  out.append("}}");
}

}  // namespace

Outcome columnarize_json(std::string_view payload) {
  auto read = json::read_value_list(payload);
  if (auto* error = std::get_if<json::Error>(&read)) {
    return "invalid row-oriented JSON: " + error->text();
  }
  const std::vector<Value>& rows = std::get<std::vector<Value>>(read);
  for (const Value& row : rows) {
    if (!row.is_object()) return "expected a JSON object row, got: " + json::display_value(row);
  }

  std::vector<std::string_view> columns;
  for (std::string_view name : discover_columns(rows)) {
    if (!is_all_null(name, rows)) columns.push_back(name);
  }

  // A constant keeps the first row's value. A column absent from the first
  // row is null there and, not being all-null, never matches.
  std::vector<std::string_view> varying, constants;
  for (std::string_view name : columns) {
    (rows.size() >= 2 && is_constant(name, rows) ? constants : varying).push_back(name);
  }

  json::ByteBuffer out;
  write_document(rows, varying, constants, out);
  return out;
}

}  // namespace vornel::columnar
