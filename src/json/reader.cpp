#include "json/reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <utility>

#include "json/number.h"
#include "json/unicode_tables.h"
#include "json/writer.h"

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

namespace {

// ---- Byte-level helpers -----------------------------------------------------

constexpr uint64_t kOnes = 0x0101010101010101;
constexpr uint64_t kHighBits = 0x8080808080808080;

// Eight input bytes with the first in the lowest-order position.
inline uint64_t load_word(const char* p) noexcept {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

// 0x80 in every byte of `w` that ends a run of string content: '"', '\\' or a
// byte below 0x20. A borrow can only raise a flag above a byte that is really
// flagged, so the lowest flag is always exact (flags above it may not be).
inline uint64_t string_stop_flags(uint64_t w) noexcept {
  const uint64_t quote = w ^ (kOnes * '"');
  const uint64_t backslash = w ^ (kOnes * '\\');
  return (((quote - kOnes) & ~quote) | ((backslash - kOnes) & ~backslash) |
          ((w - kOnes * 0x20) & ~w)) &
         kHighBits;
}

// Space, tab, line feed, carriage return: a four-member test as one mask.
inline bool is_whitespace(char c) noexcept {
  const auto b = static_cast<unsigned char>(c);
  return b <= 0x20 && ((uint64_t{0x100002600} >> b) & 1) != 0;
}

constexpr std::array<bool, 256> kStringStop = [] {
  std::array<bool, 256> table{};
  for (int b = 0; b < 0x20; ++b) table[b] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

constexpr std::array<int8_t, 256> kHexValue = [] {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<int8_t>(c - 'A' + 10);
  return table;
}();

enum class Start : uint8_t { invalid, null, true_, false_, minus, digit, string, array, object };

constexpr std::array<Start, 256> kValueStart = [] {
  std::array<Start, 256> table{};
  table['n'] = Start::null;
  table['t'] = Start::true_;
  table['f'] = Start::false_;
  table['-'] = Start::minus;
  for (int c = '0'; c <= '9'; ++c) table[c] = Start::digit;
  table['"'] = Start::string;
  table['['] = Start::array;
  table['{'] = Start::object;
  return table;
}();

inline bool is_continuation(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// RFC 3629 UTF-8: no overlong forms, no encoded surrogates, nothing above
// U+10FFFF. Runs of ASCII are skipped a word at a time.
bool valid_utf8(const char* s, size_t n) noexcept {
  size_t i = 0;
  for (;;) {
    while (n - i >= 8 && (load_word(s + i) & kHighBits) == 0) i += 8;
    if (i == n) return true;
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c < 0xC2) return false;  // a continuation byte, or an overlong 2-byte lead
    if (c < 0xE0) {
      if (n - i < 2 || !is_continuation(s[i + 1])) return false;
      i += 2;
    } else if (c < 0xF0) {
      if (n - i < 3) return false;
      const auto c1 = static_cast<unsigned char>(s[i + 1]);
      const unsigned low = c == 0xE0 ? 0xA0 : 0x80;   // overlong below
      const unsigned high = c == 0xED ? 0x9F : 0xBF;  // surrogates above
      if (c1 < low || c1 > high || !is_continuation(s[i + 2])) return false;
      i += 3;
    } else if (c < 0xF5) {
      if (n - i < 4) return false;
      const auto c1 = static_cast<unsigned char>(s[i + 1]);
      const unsigned low = c == 0xF0 ? 0x90 : 0x80;   // overlong below
      const unsigned high = c == 0xF4 ? 0x8F : 0xBF;  // beyond U+10FFFF above
      if (c1 < low || c1 > high || !is_continuation(s[i + 2]) || !is_continuation(s[i + 3])) return false;
      i += 4;
    } else {
      return false;
    }
  }
}

void append_utf8(std::string& out, uint32_t cp) {
  char bytes[4];
  size_t len;
  if (cp < 0x80) {
    bytes[0] = static_cast<char>(cp);
    len = 1;
  } else if (cp < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
    bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
    len = 2;
  } else if (cp < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
    len = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
    len = 4;
  }
  out.append(bytes, len);
}

// ---- Debug form of strings ----------------------------------------------------

template <size_t N>
bool in_table(const unicode::CodePointRange (&table)[N], uint32_t cp) noexcept {
  const auto* after = std::upper_bound(std::begin(table), std::end(table), cp,
                                       [](uint32_t c, const unicode::CodePointRange& r) { return c < r.first; });
  return after != std::begin(table) && cp <= (after - 1)->last;
}

// Whether a character other than the ones with short escapes, printable ASCII
// and U+FF9E/U+FF9F is written as \u{hex}; the tests run in this order.
bool escaped_in_debug_form(uint32_t cp) noexcept {
  if (cp <= 0x1F || (cp >= 0x7F && cp <= 0x9F)) return true;
  if ((cp >= 0xE000 && cp <= 0xF8FF) || (cp >= 0xF0000 && cp <= 0xFFFFD) || (cp >= 0x100000 && cp <= 0x10FFFD)) {
    return true;
  }
  if (cp >= 0x85 && in_table(unicode::kWhiteSpace, cp)) return true;
  if (cp >= 0x300 && in_table(unicode::kGraphemeExtend, cp)) return true;
  if (cp >= 0xAD && (in_table(unicode::kDefaultIgnorable, cp) || in_table(unicode::kFormat, cp))) return true;
  return !in_table(unicode::kAssigned, cp);
}

// Decodes one character at s[i]; a byte that does not start a well-formed
// sequence decodes as U+FFFD on its own. Returns the code point and its length.
std::pair<uint32_t, size_t> decode_utf8(std::string_view s, size_t i) noexcept {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return {c, 1};
  size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  if (c >= 0xC2 && c < 0xF5 && s.size() - i >= len && valid_utf8(s.data() + i, len)) {
    uint32_t cp = c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return {cp, len};
  }
  return {0xFFFD, 1};
}

}  // namespace

std::string debug_string(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out.push_back('"');
  for (size_t i = 0; i < utf8.size();) {
    const auto [cp, len] = decode_utf8(utf8, i);
    const std::string_view bytes = utf8.substr(i, len);
    i += len;
    switch (cp) {
      case 0x00:
        out += "\\0";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      default:
        break;
    }
    if ((cp >= 0x20 && cp <= 0x7E) || cp == 0xFF9E || cp == 0xFF9F || !escaped_in_debug_form(cp)) {
      if (cp == 0xFFFD && bytes.size() == 1) {
        append_utf8(out, cp);  // an invalid byte stands for U+FFFD
      } else {
        out += bytes;
      }
      continue;
    }
    char hex[8];
    const auto [end, ec] = std::to_chars(hex, hex + sizeof hex, cp, 16);
    (void)ec;
    out += "\\u{";
    out.append(hex, end);
    out += '}';
  }
  out.push_back('"');
  return out;
}

namespace {

// ---- The reader ---------------------------------------------------------------

// One call's state. Reading is recursive; the depth budget bounds it at 127
// open arrays and objects. Elements and members are gathered on one reusable
// stack per nesting level and moved into exactly sized storage when their
// array or object closes.
class Reader {
 public:
  Reader(std::string_view input, Arena& arena) : input_(input), p_(input.data()), n_(input.size()), arena_(arena) {}

  std::variant<std::vector<Value>, Error> read() {
    skip_whitespace();
    if (i_ == n_) return error_at(ErrorCode::eof_while_parsing_value, n_);
    if (p_[i_] != '[') return not_an_array();
    ++i_;
    depth_ = kDepthBudget - 1;
    std::vector<Value>& elements = element_stacks_[0];
    if (!read_elements(elements)) return make_error();
    depth_ = kDepthBudget;
    skip_whitespace();
    if (i_ != n_) return error_at(ErrorCode::trailing_characters, peek_index());
    return std::move(elements);
  }

 private:
  static constexpr uint8_t kDepthBudget = 128;

  size_t peek_index() const noexcept { return i_ < n_ ? i_ + 1 : n_; }

  void skip_whitespace() noexcept {
    while (i_ < n_ && is_whitespace(p_[i_])) ++i_;
  }

  // Failures record the message and the input index; the line and column are
  // only worked out in make_error.
  [[gnu::cold, gnu::noinline]] bool fail(ErrorCode code, size_t index) noexcept {
    code_ = code;
    error_index_ = index;
    return false;
  }
  [[gnu::cold, gnu::noinline]] bool fail_peek(ErrorCode code) noexcept { return fail(code, peek_index()); }

  [[gnu::cold, gnu::noinline]] Error make_error() const {
    const Position at = position_of_index(input_, error_index_);
    return Error{composed_.empty() ? std::string(message_of(code_)) : composed_, at.line, at.column};
  }
  [[gnu::cold, gnu::noinline]] Error error_at(ErrorCode code, size_t index) {
    fail(code, index);
    return make_error();
  }

  bool read_value(Value& out) {
    skip_whitespace();
    if (i_ == n_) return fail(ErrorCode::eof_while_parsing_value, n_);
    switch (kValueStart[static_cast<unsigned char>(p_[i_])]) {
      case Start::string: {
        ++i_;
        String text;
        if (!read_string(text)) return false;
        out = Value::string(std::move(text));
        return true;
      }
      case Start::digit:
        return read_number_value(out, false);
      case Start::minus:
        ++i_;
        return read_number_value(out, true);
      case Start::null:
        ++i_;
        return read_literal("ull");  // `out` is already null
      case Start::true_:
        ++i_;
        out = Value::boolean(true);
        return read_literal("rue");
      case Start::false_:
        ++i_;
        out = Value::boolean(false);
        return read_literal("alse");
      case Start::array:
        return read_nested(out, &Reader::read_array);
      case Start::object:
        return read_nested(out, &Reader::read_object);
      case Start::invalid:
        break;
    }
    return fail_peek(ErrorCode::expected_value);
  }

  // Takes a unit of depth before the bracket is consumed and gives it back
  // once the array or object is read.
  bool read_nested(Value& out, bool (Reader::*read_body)(Value&)) {
    if (--depth_ == 0) return fail_peek(ErrorCode::recursion_limit_exceeded);
    ++i_;
    const bool ok = (this->*read_body)(out);
    ++depth_;
    return ok;
  }

  size_t level() const noexcept { return kDepthBudget - 1 - depth_; }

  // After "[": the elements up to and including "]".
  bool read_elements(std::vector<Value>& elements) {
    skip_whitespace();
    if (i_ == n_) return fail(ErrorCode::eof_while_parsing_list, n_);
    if (p_[i_] == ']') {
      ++i_;
      return true;
    }
    for (;;) {
      // Nested values use the next level's stack, so this slot stays put.
      if (!read_value(elements.emplace_back())) return false;
      skip_whitespace();
      if (i_ == n_) return fail(ErrorCode::eof_while_parsing_list, n_);
      const char c = p_[i_];
      if (c == ',') {
        ++i_;
        skip_whitespace();
        if (i_ == n_) return fail(ErrorCode::eof_while_parsing_value, n_);
        if (p_[i_] == ']') return fail_peek(ErrorCode::trailing_comma);
        continue;
      }
      if (c == ']') {
        ++i_;
        return true;
      }
      return fail_peek(ErrorCode::expected_list_comma_or_end);
    }
  }

  bool read_array(Value& out) {
    std::vector<Value>& elements = element_stacks_[level()];
    if (!read_elements(elements)) return false;
    out = Value::array(arena_, elements);
    elements.clear();
    return true;
  }

  // After "{": the members up to and including "}".
  bool read_object(Value& out) {
    std::vector<std::pair<String, Value>>& members = member_stacks_[level()];
    skip_whitespace();
    if (i_ == n_) return fail(ErrorCode::eof_while_parsing_object, n_);
    char c = p_[i_];
    if (c == '}') {
      ++i_;
      out = Value::object(arena_, Map(arena_));
      return true;
    }
    if (c != '"') return fail_peek(ErrorCode::key_must_be_a_string);
    for (;;) {
      ++i_;  // the key's opening quote
      auto& [key, value] = members.emplace_back();
      if (!read_string(key)) return false;
      skip_whitespace();
      if (i_ == n_) return fail(ErrorCode::eof_while_parsing_object, n_);
      if (p_[i_] != ':') return fail_peek(ErrorCode::expected_colon);
      ++i_;
      if (!read_value(value)) return false;
      skip_whitespace();
      if (i_ == n_) return fail(ErrorCode::eof_while_parsing_object, n_);
      c = p_[i_];
      if (c == '}') {
        ++i_;
        break;
      }
      if (c != ',') return fail_peek(ErrorCode::expected_object_comma_or_end);
      ++i_;
      skip_whitespace();
      if (i_ == n_) return fail(ErrorCode::eof_while_parsing_value, n_);
      c = p_[i_];
      if (c == '"') continue;
      return fail_peek(c == '}' ? ErrorCode::trailing_comma : ErrorCode::key_must_be_a_string);
    }
    // A repeated key keeps its first position and takes the last value.
    Map map(arena_);
    map.reserve(members.size());
    for (auto& [key, value] : members) map.insert_full(key, std::move(value));
    members.clear();
    out = Value::object(arena_, std::move(map));
    return true;
  }

  // After the first letter of a literal: the remaining letters, one by one.
  bool read_literal(std::string_view rest) {
    if (n_ - i_ >= rest.size() && std::memcmp(p_ + i_, rest.data(), rest.size()) == 0) {
      i_ += rest.size();
      return true;
    }
    return read_literal_slowly(rest);
  }
  [[gnu::cold, gnu::noinline]] bool read_literal_slowly(std::string_view rest) {
    for (const char expected : rest) {
      if (i_ == n_) return fail(ErrorCode::eof_while_parsing_value, n_);
      if (p_[i_++] != expected) return fail(ErrorCode::expected_ident, i_);
    }
    return true;
  }

  bool read_number_value(Value& out, bool negative) {
    NumberFailure failure;
    if (read_number(input_, i_, negative, out, failure)) return true;
    return fail(failure.code, failure.index);
  }

  // After the opening quote: the content up to and including the closing
  // quote. Content without escapes is validated where it lies and referred to
  // there; content with escapes is assembled in the scratch buffer and copied
  // once into the arena.
  bool read_string(String& out) {
    const size_t start = i_;
    size_t run = start;  // start of the content not yet in the scratch buffer
    bool escaped = false;
    for (;;) {
      // Find the next '"', '\\' or control byte: a word at a time, then the
      // last partial word byte by byte.
      for (;;) {
        if (n_ - i_ >= 8) {
          const uint64_t flags = string_stop_flags(load_word(p_ + i_));
          if (flags != 0) {
            i_ += static_cast<size_t>(std::countr_zero(flags)) >> 3;
            break;
          }
          i_ += 8;
          continue;
        }
        while (i_ < n_ && !kStringStop[static_cast<unsigned char>(p_[i_])]) ++i_;
        if (i_ == n_) return fail(ErrorCode::eof_while_parsing_string, n_);
        break;
      }
      const char c = p_[i_];
      if (c == '"') {
        ++i_;
        std::string_view text(p_ + run, i_ - 1 - run);
        if (escaped) {
          scratch_.append(text);
          text = scratch_;
        }
        if (!valid_utf8(text.data(), text.size())) return fail(ErrorCode::invalid_unicode_code_point, i_);
        out = escaped ? String(arena_, text) : String::borrow(text);
        return true;
      }
      if (c == '\\') {
        if (!escaped) {
          scratch_.clear();
          escaped = true;
        }
        scratch_.append(p_ + run, i_ - run);
        ++i_;
        if (!read_escape()) return false;
        run = i_;
        continue;
      }
      ++i_;
      return fail(ErrorCode::control_character_while_parsing_string, i_);
    }
  }

  // After a backslash: one escape, decoded into the scratch buffer.
  bool read_escape() {
    if (i_ == n_) return fail(ErrorCode::eof_while_parsing_string, n_);
    switch (p_[i_++]) {
      case '"':
        scratch_.push_back('"');
        return true;
      case '\\':
        scratch_.push_back('\\');
        return true;
      case '/':
        scratch_.push_back('/');
        return true;
      case 'b':
        scratch_.push_back('\b');
        return true;
      case 'f':
        scratch_.push_back('\f');
        return true;
      case 'n':
        scratch_.push_back('\n');
        return true;
      case 'r':
        scratch_.push_back('\r');
        return true;
      case 't':
        scratch_.push_back('\t');
        return true;
      case 'u':
        return read_unicode_escape();
      default:
        return fail(ErrorCode::invalid_escape, i_);
    }
  }

  // Four hexadecimal digits. All four bytes are taken before any is tested,
  // so a short escape swallows what follows it, a closing quote included.
  bool read_hex4(uint32_t& value) {
    if (n_ - i_ < 4) return fail(ErrorCode::eof_while_parsing_string, n_);
    int32_t v = 0;
    bool all_hex = true;
    for (size_t k = 0; k < 4; ++k) {
      const int8_t digit = kHexValue[static_cast<unsigned char>(p_[i_ + k])];
      all_hex &= digit >= 0;
      v = (v << 4) | (digit & 0xF);
    }
    i_ += 4;
    if (!all_hex) return fail(ErrorCode::invalid_escape, i_);
    value = static_cast<uint32_t>(v);
    return true;
  }

  // After "\u".
  bool read_unicode_escape() {
    uint32_t first = 0;
    if (!read_hex4(first)) return false;
    if (first >= 0xDC00 && first <= 0xDFFF) return fail(ErrorCode::lone_leading_surrogate_in_hex_escape, i_);
    if (first < 0xD800 || first > 0xDFFF) {
      append_utf8(scratch_, first);
      return true;
    }
    for (const char expected : {'\\', 'u'}) {
      if (i_ == n_) return fail(ErrorCode::eof_while_parsing_string, n_);
      if (p_[i_++] != expected) return fail(ErrorCode::unexpected_end_of_hex_escape, i_);
    }
    uint32_t second = 0;
    if (!read_hex4(second)) return false;
    if (second < 0xDC00 || second > 0xDFFF) return fail(ErrorCode::lone_leading_surrogate_in_hex_escape, i_);
    append_utf8(scratch_, 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00));
    return true;
  }

  // The top-level value is not an array: read it as far as needed to name
  // it, then fail with "invalid type: <what>, expected a sequence" just after
  // it (before it, for an object). Failures while reading it win.
  [[gnu::cold, gnu::noinline]] Error not_an_array() {
    std::string description;
    const char c = p_[i_];
    switch (kValueStart[static_cast<unsigned char>(c)]) {
      case Start::null:
        ++i_;
        if (!read_literal("ull")) return make_error();
        description = "null";
        break;
      case Start::true_:
        ++i_;
        if (!read_literal("rue")) return make_error();
        description = "boolean `true`";
        break;
      case Start::false_:
        ++i_;
        if (!read_literal("alse")) return make_error();
        description = "boolean `false`";
        break;
      case Start::minus:
      case Start::digit: {
        const bool negative = c == '-';
        i_ += negative;
        Value number;
        if (!read_number_value(number, negative)) return make_error();
        description = describe_number(number);
        break;
      }
      case Start::string: {
        ++i_;
        String text;
        if (!read_string(text)) return make_error();
        description = "string " + debug_string(text.view());
        break;
      }
      case Start::object:
        description = "map";
        break;
      case Start::array:  // not reached: the caller handles "["
      case Start::invalid:
        return error_at(ErrorCode::expected_value, peek_index());
    }
    composed_ = "invalid type: " + description + ", expected a sequence";
    error_index_ = i_;
    return make_error();
  }

  static std::string describe_number(const Value& number) {
    char scratch[kFloatScratch > kIntegerScratch ? kFloatScratch : kIntegerScratch];
    std::string out;
    switch (number.number_rep()) {
      case NumberRep::non_negative: {
        const auto end = std::to_chars(scratch, scratch + sizeof scratch, number.as_u64()).ptr;
        return "integer `" + std::string(scratch, end) + "`";
      }
      case NumberRep::negative: {
        const auto end = std::to_chars(scratch, scratch + sizeof scratch, number.as_i64()).ptr;
        return "integer `" + std::string(scratch, end) + "`";
      }
      case NumberRep::floating:
        break;
    }
    const char* end = write_f64(number.as_f64(), scratch);
    return "floating point `" + std::string(static_cast<const char*>(scratch), end) + "`";
  }

  std::string_view input_;
  const char* p_;
  size_t n_;
  size_t i_ = 0;
  Arena& arena_;
  uint8_t depth_ = kDepthBudget;
  std::string scratch_;
  std::array<std::vector<Value>, kDepthBudget> element_stacks_;
  std::array<std::vector<std::pair<String, Value>>, kDepthBudget> member_stacks_;
  ErrorCode code_ = ErrorCode::expected_value;
  size_t error_index_ = 0;
  std::string composed_;
};

}  // namespace

std::variant<std::vector<Value>, Error> read_value_list(std::string_view input, Arena& arena) {
  Reader reader(input, arena);
  return reader.read();
}

}  // namespace vornel::json
