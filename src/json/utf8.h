// UTF-8 as RFC 3629 defines it: no overlong forms, no encoded surrogates,
// nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vornel::json {

// Whether the `size` bytes at `text` are well-formed UTF-8.
bool is_valid_utf8(const char* text, size_t size) noexcept;

// Appends the UTF-8 bytes of code point `cp` (at most U+10FFFF, not a
// surrogate).
void append_utf8(std::string& out, uint32_t cp);

}  // namespace vornel::json
