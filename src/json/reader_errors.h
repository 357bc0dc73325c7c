// What the reader reports when it refuses a document: a fixed message (or a
// composed one), and the line and byte column where it stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornel::json {

// The reader's fixed messages, in declared order. `message_of` gives the text.
enum class ErrorCode : uint8_t {
  eof_while_parsing_list,
  eof_while_parsing_object,
  eof_while_parsing_string,
  eof_while_parsing_value,
  expected_colon,
  expected_list_comma_or_end,
  expected_object_comma_or_end,
  expected_ident,
  expected_value,
  invalid_escape,
  invalid_number,
  number_out_of_range,
  invalid_unicode_code_point,
  control_character_while_parsing_string,
  key_must_be_a_string,
  lone_leading_surrogate_in_hex_escape,
  trailing_comma,
  trailing_characters,
  unexpected_end_of_hex_escape,
  recursion_limit_exceeded,
};
// The last code, up to which the message test walks them all: a code added
// after it must move it.
inline constexpr ErrorCode kLastErrorCode = ErrorCode::recursion_limit_exceeded;

std::string_view message_of(ErrorCode code) noexcept;

// A reader failure: the message, the 1-based line and the byte column.
struct Error {
  std::string message;
  uint64_t line = 0;
  uint64_t column = 0;

  // "MESSAGE at line L column C"
  std::string text() const;
};

struct Position {
  uint64_t line;
  uint64_t column;
};

// Line and column of input index `index` (at most input.size()): lines are
// counted by line feeds only; the column is the number of bytes between the
// last line feed before `index` and `index`. Computed only when an error is
// reported, never tracked while reading.
Position position_of_index(std::string_view input, size_t index) noexcept;

}  // namespace vornel::json
