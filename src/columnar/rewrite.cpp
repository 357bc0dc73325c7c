#include "columnar/rewrite.h"

#include <cstring>
#include <stdexcept>

#include "json/reader.h"
#include "json/utf8.h"

namespace vornel::columnar {
namespace {

uint32_t hex4(const char* p) noexcept {
  uint32_t value = 0;
  for (int k = 0; k < 4; ++k) {
    const char c = p[k];
    const uint32_t digit = c <= '9' ? static_cast<uint32_t>(c - '0') : static_cast<uint32_t>((c | 0x20) - 'a' + 10);
    value = (value << 4) | digit;
  }
  return value;
}

char simple_escape(char letter) noexcept {
  switch (letter) {
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return letter;  // '"', '\\' and '/' stand for themselves
  }
}

}  // namespace

void decode_string_content(std::string_view content, std::string& out) {
  const char* p = content.data();
  const char* const end = p + content.size();
  while (p != end) {
    const char* backslash = static_cast<const char*>(std::memchr(p, '\\', static_cast<size_t>(end - p)));
    if (backslash == nullptr) backslash = end;
    out.append(p, backslash);
    if (backslash == end) break;
    p = backslash + 1;
    const char letter = *p++;
    if (letter != 'u') {
      out.push_back(simple_escape(letter));
      continue;
    }
    uint32_t cp = hex4(p);
    p += 4;
    if (cp >= 0xD800 && cp <= 0xDBFF) {  // checked: a trailing surrogate's escape follows
      cp = 0x10000 + ((cp - 0xD800) << 10) + (hex4(p + 2) - 0xDC00);
      p += 6;
    }
    json::append_utf8(out, cp);
  }
}

uint64_t rewrite_string(std::string_view text, json::ByteBuffer& out) {
  std::string decoded;
  decode_string_content(text.substr(1, text.size() - 2), decoded);
  const uint64_t at = out.size();
  json::serialize_str(decoded, out);
  return at;
}

uint64_t rewrite_number(double value, std::string_view text, json::ByteBuffer& out) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
  const uint64_t at = out.size();
  out.append(text);
  return at;
}

uint64_t rewrite_container(std::string_view text, json::ByteBuffer& out) {
  memory::Arena arena(text.size());
  const std::optional<json::Value> value = json::read_fragment(text, arena);
  if (!value) throw std::logic_error("a value that was checked failed to read again");
  const uint64_t at = out.size();
  json::write_value(*value, out);
  return at;
}

}  // namespace vornel::columnar
