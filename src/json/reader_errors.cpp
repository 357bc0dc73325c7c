#include "json/reader_errors.h"

#include <algorithm>
#include <cstring>

namespace vornel::json {

std::string_view message_of(ErrorCode code) noexcept {
  switch (code) {
    case ErrorCode::eof_while_parsing_list:
      return "EOF while parsing a list";
    case ErrorCode::eof_while_parsing_object:
      return "EOF while parsing an object";
    case ErrorCode::eof_while_parsing_string:
      return "EOF while parsing a string";
    case ErrorCode::eof_while_parsing_value:
      return "EOF while parsing a value";
    case ErrorCode::expected_colon:
      return "expected `:`";
    case ErrorCode::expected_list_comma_or_end:
      return "expected `,` or `]`";
    case ErrorCode::expected_object_comma_or_end:
      return "expected `,` or `}`";
    case ErrorCode::expected_ident:
      return "expected ident";
    case ErrorCode::expected_value:
      return "expected value";
    case ErrorCode::invalid_escape:
      return "invalid escape";
    case ErrorCode::invalid_number:
      return "invalid number";
    case ErrorCode::number_out_of_range:
      return "number out of range";
    case ErrorCode::invalid_unicode_code_point:
      return "invalid unicode code point";
    case ErrorCode::control_character_while_parsing_string:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case ErrorCode::key_must_be_a_string:
      return "key must be a string";
    case ErrorCode::lone_leading_surrogate_in_hex_escape:
      return "lone leading surrogate in hex escape";
    case ErrorCode::trailing_comma:
      return "trailing comma";
    case ErrorCode::trailing_characters:
      return "trailing characters";
    case ErrorCode::unexpected_end_of_hex_escape:
      return "unexpected end of hex escape";
    case ErrorCode::recursion_limit_exceeded:
      return "recursion limit exceeded";
  }
  return "unknown error";
}

std::string Error::text() const {
  std::string out = message;
  out += " at line ";
  out += std::to_string(line);
  out += " column ";
  out += std::to_string(column);
  return out;
}

Position position_of_index(std::string_view input, size_t index) noexcept {
  index = std::min(index, input.size());
  uint64_t line = 1;
  size_t line_start = 0;
  const char* const begin = input.data();
  const char* const end = begin + index;
  for (const char* q = begin; q < end; ++q) {
    q = static_cast<const char*>(std::memchr(q, '\n', static_cast<size_t>(end - q)));
    if (q == nullptr) break;
    ++line;
    line_start = static_cast<size_t>(q - begin) + 1;
  }
  return {line, index - line_start};
}

}  // namespace vornel::json
