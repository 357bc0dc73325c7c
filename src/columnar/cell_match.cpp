#include "columnar/cell_match.h"

#include <cstring>
#include <string_view>

#include "json/number.h"

namespace vornel::columnar {
namespace {

// A value's text in the writer's form, as cells hold it.
using WriterText = std::string_view;

bool is_number_text(WriterText text) noexcept { return text[0] == '-' || (text[0] >= '0' && text[0] <= '9'); }

// The writer gives every float a point or an exponent, and no integer either.
bool is_integer_text(WriterText text) noexcept { return text.find_first_of(".e") == WriterText::npos; }

bool is_zero_float(WriterText text) noexcept { return text == "0.0" || text == "-0.0"; }

// The writer's shortest form names one double, and ±0 are the only two
// texts of equal doubles; integer texts are equal exactly when the integers
// are. So number texts that differ are equal values only as ±0.
bool nested_numbers_equal(WriterText a, WriterText b) noexcept { return is_zero_float(a) && is_zero_float(b); }

// The end of the value starting at `p` in writer's-form text ending at `end`.
const char* skip_string(const char* p) noexcept {
  for (++p;; ++p) {
    if (*p == '"') return p + 1;
    if (*p == '\\') ++p;
  }
}

const char* skip_value(const char* p, const char* end) noexcept {
  if (*p == '"') return skip_string(p);
  if (*p == '[' || *p == '{') {
    int open = 0;
    do {
      if (*p == '"') {
        p = skip_string(p);
        continue;
      }
      open += (*p == '[' || *p == '{') - (*p == ']' || *p == '}');
      ++p;
    } while (open != 0);
    return p;
  }
  while (p != end && *p != ',' && *p != ']' && *p != '}') ++p;
  return p;
}

bool values_equal(WriterText a, WriterText b);

// The values of an array's text, or the members of an object's text, one by
// one: `next` gives the next value, or for an object the next key (with
// `value` set to its value).
class ItemCursor {
 public:
  explicit ItemCursor(WriterText container) noexcept
      : p_(container.data() + 1), end_(container.data() + container.size() - 1) {}

  bool done() const noexcept { return p_ == end_; }
  WriterText next_value() noexcept {
    const char* value_end = skip_value(p_, end_);
    const WriterText value(p_, static_cast<size_t>(value_end - p_));
    p_ = value_end + (value_end != end_);
    return value;
  }
  WriterText next_key(WriterText& value) noexcept {
    const char* key_end = skip_string(p_);
    const WriterText key(p_, static_cast<size_t>(key_end - p_));
    p_ = key_end + 1;
    value = next_value();
    return key;
  }

 private:
  const char* p_;
  const char* const end_;
};

bool arrays_equal(WriterText a, WriterText b) {
  ItemCursor xs(a), ys(b);
  while (!xs.done() && !ys.done()) {
    if (!values_equal(xs.next_value(), ys.next_value())) return false;
  }
  return xs.done() && ys.done();
}

// Keys in the writer's form are unique within an object (a repeated key
// sends the object through the rewrite) and equal exactly when their texts
// are. Objects in rows are small: each key of one is looked for by walking
// the other, with no storage.
bool objects_equal(WriterText a, WriterText b) {
  size_t count = 0;
  for (ItemCursor xs(a); !xs.done(); ++count) {
    WriterText value;
    const WriterText key = xs.next_key(value);
    bool found = false;
    for (ItemCursor ys(b); !ys.done();) {
      WriterText other;
      if (ys.next_key(other) == key) {
        if (!values_equal(value, other)) return false;
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  size_t other_count = 0;
  for (ItemCursor ys(b); !ys.done(); ++other_count) {
    WriterText value;
    ys.next_key(value);
  }
  return count == other_count;
}

bool values_equal(WriterText a, WriterText b) {
  if (a == b) return true;
  if (a[0] == '[' && b[0] == '[') return arrays_equal(a, b);
  if (a[0] == '{' && b[0] == '{') return objects_equal(a, b);
  return is_number_text(a) && is_number_text(b) && nested_numbers_equal(a, b);
}

// An integer's text as a double, rounded to nearest.
double integer_as_double(WriterText text) noexcept {
  const bool negative = text[0] == '-';
  uint64_t magnitude = 0;
  for (size_t i = negative; i < text.size(); ++i) magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
  // -2^63 is the only magnitude a negative integer holds that int64 cannot
  // negate; its double is exact either way.
  return negative ? -static_cast<double>(magnitude) : static_cast<double>(magnitude);
}

// The double a float cell was read as: stored before a rewritten text, and
// read again (the reader is deterministic) from the payload's own text.
double float_value(const PlanState& state, const Cell& cell) {
  double value;
  if (cell.rewritten()) {
    std::memcpy(&value, state.rewrites.data() + (cell.offset & ~Cell::kRewritten) - sizeof value, sizeof value);
    return value;
  }
  size_t cursor = cell.offset;
  const bool negative = state.payload[cursor] == '-';
  cursor += negative;
  json::Value number;
  json::NumberFailure failure;
  json::read_number(state.payload, cursor, negative, number, failure);  // read once already
  return number.as_f64();
}

}  // namespace

bool cells_match(const PlanState& state, const Cell& candidate, const Cell& reference) {
  const WriterText a = state.text_of(candidate);
  const WriterText b = state.text_of(reference);
  if (a == b) return true;
  if (!is_number_text(a) || !is_number_text(b)) return values_equal(a, b);
  const bool a_integer = is_integer_text(a);
  const bool b_integer = is_integer_text(b);
  if (a_integer && b_integer) return false;
  if (!a_integer && !b_integer) return nested_numbers_equal(a, b);
  return a_integer ? integer_as_double(a) == float_value(state, reference)
                   : float_value(state, candidate) == integer_as_double(b);
}

}  // namespace vornel::columnar
