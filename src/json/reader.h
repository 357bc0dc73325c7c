// The strict JSON reader: RFC 8259 text whose top level must be an array,
// read in one forward pass into Values, with exact error messages and byte
// positions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/reader_errors.h"
#include "json/value.h"

namespace vornel::json {

// Reads `input` as one JSON array and returns its elements, or the first
// error. Strings without escapes refer to their bytes in `input`; everything
// else is made in `arena`. Both must outlive the values.
std::variant<std::vector<Value>, Error> read_value_list(std::string_view input, Arena& arena);

// Reads `text`, which must hold exactly one JSON value (whitespace around it
// allowed), nested less than the reader's limit. Nothing when it does not.
std::optional<Value> read_fragment(std::string_view text, Arena& arena);

}  // namespace vornel::json
