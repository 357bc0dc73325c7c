#include "json/reader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <utility>

#include "json/debug_string.h"
#include "json/lexical.h"
#include "json/number.h"
#include "json/scan.h"
#include "json/utf8.h"
#include "json/writer.h"

namespace vornel::json {

namespace {

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

// ---- The reader ---------------------------------------------------------------

// One call's state. Reading is recursive; the depth budget bounds it at
// kMaxDepth open arrays and objects. Elements and members are gathered on one reusable
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

  std::optional<Value> read_one() {
    Value value;
    if (!read_value(value)) return std::nullopt;
    skip_whitespace();
    if (i_ != n_) return std::nullopt;
    return value;
  }

 private:
  static constexpr uint8_t kDepthBudget = kMaxDepth + 1;

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
          const uint64_t flags = scan::string_stop_flags(scan::load_le64(p_ + i_));
          if (flags != 0) {
            i_ += scan::first_flagged_byte(flags);
            break;
          }
          i_ += 8;
          continue;
        }
        while (i_ < n_ && !is_string_stop(p_[i_])) ++i_;
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
        if (!is_valid_utf8(text.data(), text.size())) return fail(ErrorCode::invalid_unicode_code_point, i_);
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
    const char letter = p_[i_++];
    if (letter == 'u') return read_unicode_escape();
    const int value = simple_escape_value(letter);
    if (value < 0) return fail(ErrorCode::invalid_escape, i_);
    scratch_.push_back(static_cast<char>(value));
    return true;
  }

  // Four hexadecimal digits. All four bytes are taken before any is tested,
  // so a short escape swallows what follows it, a closing quote included.
  bool read_hex4(uint32_t& value) {
    if (n_ - i_ < 4) return fail(ErrorCode::eof_while_parsing_string, n_);
    const int v = hex4_value(p_ + i_);
    i_ += 4;
    if (v < 0) return fail(ErrorCode::invalid_escape, i_);
    value = static_cast<uint32_t>(v);
    return true;
  }

  // After "\u".
  bool read_unicode_escape() {
    uint32_t first = 0;
    if (!read_hex4(first)) return false;
    if (is_low_surrogate(first)) return fail(ErrorCode::lone_leading_surrogate_in_hex_escape, i_);
    if (!is_high_surrogate(first)) {
      append_utf8(scratch_, first);
      return true;
    }
    for (const char expected : {'\\', 'u'}) {
      if (i_ == n_) return fail(ErrorCode::eof_while_parsing_string, n_);
      if (p_[i_++] != expected) return fail(ErrorCode::unexpected_end_of_hex_escape, i_);
    }
    uint32_t second = 0;
    if (!read_hex4(second)) return false;
    if (!is_low_surrogate(second)) return fail(ErrorCode::lone_leading_surrogate_in_hex_escape, i_);
    append_utf8(scratch_, combine_surrogates(first, second));
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

std::optional<Value> read_fragment(std::string_view text, Arena& arena) {
  Reader reader(text, arena);
  return reader.read_one();
}

}  // namespace vornel::json
