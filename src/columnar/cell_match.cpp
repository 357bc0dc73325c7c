#include "columnar/cell_match.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "json/number.h"

namespace vornel::columnar {
namespace {

using Text = std::string_view;

bool is_number_text(Text text) noexcept { return text[0] == '-' || (text[0] >= '0' && text[0] <= '9'); }

// The writer gives every float a point or an exponent, and no integer either.
bool is_integer_text(Text text) noexcept { return text.find_first_of(".e") == Text::npos; }

bool is_zero_float(Text text) noexcept { return text == "0.0" || text == "-0.0"; }

// The writer's shortest form names one double, and ±0 are the only two
// texts of equal doubles; integer texts are equal exactly when the integers
// are. So number texts that differ are equal values only as ±0.
bool nested_numbers_equal(Text a, Text b) noexcept { return is_zero_float(a) && is_zero_float(b); }

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

bool values_equal(Text a, Text b);

// The values of an array's text, in order.
std::vector<Text> elements_of(Text array) {
  std::vector<Text> elements;
  const char* p = array.data() + 1;
  const char* const end = array.data() + array.size() - 1;
  while (p != end) {
    const char* value_end = skip_value(p, end);
    elements.emplace_back(p, static_cast<size_t>(value_end - p));
    p = value_end + (value_end != end);
  }
  return elements;
}

// The (key, value) texts of an object's text, in order.
std::vector<std::pair<Text, Text>> members_of(Text object) {
  std::vector<std::pair<Text, Text>> members;
  const char* p = object.data() + 1;
  const char* const end = object.data() + object.size() - 1;
  while (p != end) {
    const char* key_end = skip_string(p);
    const char* value_end = skip_value(key_end + 1, end);
    members.emplace_back(Text(p, static_cast<size_t>(key_end - p)),
                         Text(key_end + 1, static_cast<size_t>(value_end - key_end - 1)));
    p = value_end + (value_end != end);
  }
  return members;
}

bool arrays_equal(Text a, Text b) {
  const std::vector<Text> xs = elements_of(a);
  const std::vector<Text> ys = elements_of(b);
  return xs.size() == ys.size() && std::equal(xs.begin(), xs.end(), ys.begin(), values_equal);
}

// Keys in the writer's form are unique within an object (a repeated key
// sends the object through the rewrite) and equal exactly when their texts
// are.
bool objects_equal(Text a, Text b) {
  const auto xs = members_of(a);
  auto ys = members_of(b);
  if (xs.size() != ys.size()) return false;
  std::sort(ys.begin(), ys.end());
  for (const auto& [key, value] : xs) {
    const auto found = std::lower_bound(ys.begin(), ys.end(), std::pair<Text, Text>(key, Text()),
                                        [](const auto& m, const auto& k) { return m.first < k.first; });
    if (found == ys.end() || found->first != key || !values_equal(value, found->second)) return false;
  }
  return true;
}

bool values_equal(Text a, Text b) {
  if (a == b) return true;
  if (a[0] == '[' && b[0] == '[') return arrays_equal(a, b);
  if (a[0] == '{' && b[0] == '{') return objects_equal(a, b);
  return is_number_text(a) && is_number_text(b) && nested_numbers_equal(a, b);
}

// An integer's text as a double, rounded to nearest.
double integer_as_double(Text text) noexcept {
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
  const Text a = state.text_of(candidate);
  const Text b = state.text_of(reference);
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
