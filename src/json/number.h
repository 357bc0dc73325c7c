// Conversion of one JSON number text into a number Value.
//
// Integers accumulate in one u64 register; texts with a fraction or exponent
// (and integers outside the u64/i64 ranges) become floats through one
// integer-to-double conversion and one multiply or divide by a power of ten.
// This is fast and deliberately not correctly rounded: 12345678901234567.0
// reads as 12345678901234566.0. The writer prints what was read, so these
// exact results are visible in the output and must not "improve".
#pragma once

#include <cstddef>
#include <string_view>

#include "json/reader.h"
#include "json/value.h"

namespace vornel::json {

// Where a number text failed: the message and the input index the reader
// turns into a line and column.
struct NumberFailure {
  ErrorCode code = ErrorCode::invalid_number;
  size_t index = 0;
};

// Reads one number starting at `cursor`: after the minus sign when `negative`
// (the caller consumed it), else at the first digit. On success stores the
// number in `out`, moves `cursor` past its last byte and returns true;
// nothing after the number is looked at beyond one byte of lookahead. On
// failure fills `failure` and returns false.
bool read_number(std::string_view input, size_t& cursor, bool negative, Value& out,
                 NumberFailure& failure) noexcept;

}  // namespace vornel::json
