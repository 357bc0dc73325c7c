// The transform's refusals: every message it gives is one of these prefixes
// followed by what was refused.
#pragma once

#include <string_view>

namespace vornel::columnar {

// The reader refused the payload; its error text follows ("MESSAGE at line
// L column C").
inline constexpr std::string_view kInvalidPayloadPrefix = "invalid row-oriented JSON: ";

// An element of the array is not an object; its compact JSON text follows,
// whole.
inline constexpr std::string_view kNotAnObjectPrefix = "expected a JSON object row, got: ";

}  // namespace vornel::columnar
