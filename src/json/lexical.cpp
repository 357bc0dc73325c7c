#include "json/lexical.h"

#include <cstring>

#include "json/utf8.h"

namespace vornel::json {

void decode_string_content(std::string_view content, std::string& out) {
  const char* p = content.data();
  const char* const end = p + content.size();
  while (p != end) {
    const auto* backslash = static_cast<const char*>(std::memchr(p, '\\', static_cast<size_t>(end - p)));
    if (backslash == nullptr) backslash = end;
    out.append(p, backslash);
    if (backslash == end) break;
    Escape escape{};
    read_escape(backslash, end, escape);  // checked already
    append_utf8(out, escape.code_point);
    p = backslash + escape.length;
  }
}

}  // namespace vornel::json
