// The writer's text for payload values that are valid JSON but not already
// in the writer's form, appended to a plan's rewrite buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json/writer.h"

namespace vornel::columnar {

// Each returns the offset of the new text in `out`. The input text has been
// read and checked already; these only change its form.

// A string's text, quotes included, whose escapes the writer writes
// differently (or not at all).
uint64_t rewrite_string(std::string_view text, json::ByteBuffer& out);

// A number read as the float `value`, whose writer's text is `text`: the
// text, preceded by the value itself as 8 bytes (see PlanState::rewrites).
uint64_t rewrite_number(double value, std::string_view text, json::ByteBuffer& out);

// An array or object with whitespace or rewritten content inside, or a
// repeated key.
uint64_t rewrite_container(std::string_view text, json::ByteBuffer& out);

// Decodes the escapes of a string's content (without quotes) into `out`.
// The content must have been checked.
void decode_string_content(std::string_view content, std::string& out);

}  // namespace vornel::columnar
