// The scanner of a row's member values, a template over the byte scanners
// of json/scan.h: one forward pass checks a value against JSON's grammar,
// finds its end and, where its text is not already what the writer writes
// for it, makes the writer's text on the way.
//
// The writer's text is made lazily. While everything scanned so far is the
// writer's, nothing is copied: `run_` marks where the text still pending
// began. At a place where the writer's text differs (whitespace inside an
// array or object, an escape the writer spells another way, a number in
// another form, an object with a repeated key), the pending text goes to the
// output, then the writer's text for that place, and a new run starts
// behind it. A value without such a place costs no copy at all.
//
// Nothing is reported: anything invalid returns false and leaves the payload
// to the document path, which knows every message.
//
// Included by the row reader, which is compiled once per scanner (see
// row_reader_impl.h): everything here depends on the scanner or is inline.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "columnar/reader_scratch.h"
#include "columnar/writer_form.h"
#include "json/lexical.h"
#include "json/number.h"
#include "json/reader.h"
#include "json/scan.h"
#include "json/utf8.h"
#include "json/writer.h"
#include "memory/arena.h"

namespace vornel::columnar {

enum class ValueKind : uint8_t { null, literal, number, string, container };

// A scanned value: its text in the payload and, when that is not the
// writer's text, where the writer's text begins in the output (it runs to
// the output's end).
struct ScannedValue {
  const char* begin;
  const char* end;
  ValueKind kind;
  bool rewritten;
  uint64_t rewritten_at;
};

template <class Scan>
class ValueScanner {
 public:
  // Scans values of the payload [begin, end), rewriting into `out`.
  ValueScanner(const char* begin, const char* end, json::ByteBuffer& out, ReaderScratch& scratch) noexcept
      : begin_(begin), end_(end), out_(out), scratch_(scratch) {}

  // The value at `p` (not whitespace), the member of an object nested in
  // `depth` open arrays and objects; moves `p` past it. A rewritten number is
  // preceded in the output by the double it was read as, 8 bytes, which the
  // constant test compares: its writer's text, read again by this library's
  // fast conversion, could give a neighbouring double.
  bool scan_member(const char*& p, unsigned depth, ScannedValue& value) {
    p_ = p;
    run_ = p;
    rewriting_ = false;
    const uint64_t start = out_.size();
    value.begin = p;
    if (!kind_of(value.kind)) return false;
    bool scanned;
    switch (value.kind) {
      case ValueKind::null:
      case ValueKind::literal:
        scanned = scan_literal();
        break;
      case ValueKind::number:
        scanned = scan_number(/*keep_double=*/true);
        break;
      default:
        scanned = scan_value(depth);
        break;
    }
    if (!scanned) return false;
    value.end = p_;
    value.rewritten = rewriting_;
    if (rewriting_) {
      flush_run(p_);
      value.rewritten_at = value.kind == ValueKind::number ? start + sizeof(double) : start;
    }
    p = p_;
    return true;
  }

  // The string at `p` (its opening quote), checked but not rewritten, for
  // the keys of rows, whose decoded names are what counts; moves `p` past
  // it. `escaped` tells whether it holds any escape.
  bool scan_key(const char*& p, bool& escaped) {
    p_ = p;
    unsigned escapes = 0;
    if (!scan_string<false>(escapes)) return false;
    escaped = escapes != 0;
    p = p_;
    return true;
  }

 private:
  // The kind a value's first byte announces; false for a byte that starts
  // no value.
  bool kind_of(ValueKind& kind) const noexcept {
    switch (*p_) {
      case '"':
        kind = ValueKind::string;
        return true;
      case '[':
      case '{':
        kind = ValueKind::container;
        return true;
      case 'n':
        kind = ValueKind::null;
        return true;
      case 't':
      case 'f':
        kind = ValueKind::literal;
        return true;
      default:
        kind = ValueKind::number;
        return *p_ == '-' || json::is_digit(*p_);
    }
  }

  bool scan_value(unsigned depth) {
    unsigned escapes = 0;
    switch (*p_) {
      case '"':
        return scan_string<true>(escapes);
      case '[':
        return depth < json::kMaxDepth && scan_array(depth + 1);
      case '{':
        return depth < json::kMaxDepth && scan_object(depth + 1);
      case 'n':
      case 't':
      case 'f':
        return scan_literal();
      default:
        return scan_number(/*keep_double=*/false);
    }
  }

  // ---- The output ---------------------------------------------------------

  // Appends the pending run up to `to`.
  void flush_run(const char* to) { out_.append(run_, static_cast<size_t>(to - run_)); }

  // The text [from, to) is written `replacement` by the writer.
  void rewrite(const char* from, const char* to, std::string_view replacement) {
    flush_run(from);
    if (!replacement.empty()) out_.append(replacement);  // whitespace is replaced by nothing
    run_ = to;
    rewriting_ = true;
  }

  // ---- Whitespace ---------------------------------------------------------

  // Compact text has no whitespace between tokens, and spaced text mostly a
  // single space (", " and ": "): two tests, and the scanner only for real
  // runs such as indentation. Inside a value, the writer writes none.
  void skip_whitespace_inside() {
    if (p_ == end_ || !json::is_whitespace(*p_)) return;
    const char* const from = p_++;
    if (p_ != end_ && json::is_whitespace(*p_)) p_ = Scan::skip_whitespace(p_ + 1, end_);
    rewrite(from, p_, {});
  }

  // ---- Literals and numbers ------------------------------------------------

  // "null", "true" and "false", compared four bytes at a time.
  bool scan_literal() {
    constexpr auto word = [](const char (&text)[5]) {
      return static_cast<uint32_t>(static_cast<unsigned char>(text[0])) |
             static_cast<uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
             static_cast<uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
             static_cast<uint32_t>(static_cast<unsigned char>(text[3])) << 24;
    };
    if (end_ - p_ < 4) return false;
    uint32_t first;
    std::memcpy(&first, p_, 4);
    if constexpr (std::endian::native == std::endian::big) first = __builtin_bswap32(first);
    if (first == word("null") || first == word("true")) {
      p_ += 4;
      return true;
    }
    if (first != word("fals") || end_ - p_ < 5 || p_[4] != 'e') return false;
    p_ += 5;
    return true;
  }

  // After the grammar check, an integer is in the writer's form unless it is
  // -0 or lies outside both integer ranges (the reader makes a float of
  // those), and a plain float of few digits can be told by its layout. Other
  // floats are when the writer's text for the double read is the same text.
  bool scan_number(bool keep_double) {
    const char* const start = p_;
    const char* p = start + (*start == '-');
    const char* const digits = p;
    if (p == end_) return false;
    if (*p == '0') {
      ++p;
      if (p != end_ && json::is_digit(*p)) return false;
    } else if (json::is_digit(*p)) {
      p = json::scan::skip_digits(p + 1, end_);
    } else {
      return false;
    }
    const char* const point = p;
    bool is_float = false;
    if (p != end_ && *p == '.') {
      ++p;
      if (p == end_ || !json::is_digit(*p)) return false;
      p = json::scan::skip_digits(p + 1, end_);
      is_float = true;
    }
    const char* const fraction_end = p;
    bool has_exponent = false;
    if (p != end_ && (*p | 0x20) == 'e') {
      ++p;
      if (p != end_ && (*p == '+' || *p == '-')) ++p;
      if (p == end_ || !json::is_digit(*p)) return false;
      p = json::scan::skip_digits(p + 1, end_);
      has_exponent = true;
    }
    p_ = p;
    if (!has_exponent && (is_float ? short_plain_float_in_writer_form(digits, point, fraction_end)
                                   : integer_in_writer_form(digits, static_cast<size_t>(point - digits), digits != start))) {
      return true;
    }
    return check_float_form(start, digits, keep_double);
  }

  // A float whose text [start, p_) only formatting its double can tell from
  // the writer's; rewritten when they differ. False when it is out of range.
  [[gnu::noinline]] bool check_float_form(const char* start, const char* digits, bool keep_double) {
    size_t cursor = static_cast<size_t>(digits - begin_);
    json::Value number;
    json::NumberFailure failure;
    if (!json::read_number({begin_, static_cast<size_t>(end_ - begin_)}, cursor, digits != start, number, failure)) {
      return false;
    }
    char scratch[json::kFloatScratch];
    const std::string_view written(scratch, static_cast<size_t>(json::write_f64(number.as_f64(), scratch) - scratch));
    if (written == std::string_view(start, static_cast<size_t>(p_ - start))) return true;
    if (keep_double) {  // a member value itself: nothing is pending before it
      const double value = number.as_f64();
      out_.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    rewrite(start, p_, written);
    return true;
  }

  // ---- Strings ----------------------------------------------------------------

  // The string at `p_`, its opening quote. Each escape the writer spells
  // otherwise counts in `escapes` and, when `kRewriting`, is rewritten; the
  // writer writes a character itself unless it must escape it. The loop is
  // kept to finding the string's end: escapes and non-ASCII text, rarer,
  // are handled out of line.
  template <bool kRewriting>
  bool scan_string(unsigned& escapes) {
    const char* p = p_ + 1;
    bool non_ascii = false;
    for (;;) {
      p = Scan::find_string_stop(p, end_, non_ascii);
      if (p == end_) return false;
      if (*p == '"') break;
      p = pass_escape<kRewriting>(p, escapes);
      if (p == nullptr) return false;
    }
    // Escapes are ASCII, so the raw text is valid UTF-8 exactly when the
    // decoded text is.
    if (non_ascii && !json::is_valid_utf8<Scan>(p_ + 1, p)) return false;
    p_ = p + 1;
    return true;
  }

  // The escape at `p`, which holds a byte the string stopped at: the end of
  // the escape, or nullptr when the byte is a control byte or the escape
  // invalid.
  template <bool kRewriting>
  [[gnu::noinline]] const char* pass_escape(const char* p, unsigned& escapes) {
    json::Escape escape;
    if (*p != '\\' || !json::read_escape(p, end_, escape)) return nullptr;
    if constexpr (kRewriting) {
      if (escape_in_writer_form(p, escape.length)) return p + escape.length;
      char text[json::kCodePointScratch];
      rewrite(p, p + escape.length,
              {text, static_cast<size_t>(json::write_string_code_point(escape.code_point, text) - text)});
    }
    ++escapes;
    return p + escape.length;
  }

  // ---- Arrays and objects ----------------------------------------------------

  // After the bracket: elements separated by commas, then the bracket that
  // closes it. `depth` counts this array.
  bool scan_array(unsigned depth) {
    ++p_;
    skip_whitespace_inside();
    if (p_ == end_) return false;
    if (*p_ == ']') {
      ++p_;
      return true;
    }
    for (;;) {
      if (!scan_value(depth)) return false;
      skip_whitespace_inside();
      if (p_ == end_) return false;
      if (*p_ == ']') {
        ++p_;
        return true;
      }
      if (*p_ != ',') return false;
      ++p_;
      skip_whitespace_inside();
      if (p_ == end_) return false;
    }
  }

  bool scan_object(unsigned depth) {
    const char* const object_begin = p_;
    const uint64_t out_mark = out_.size();
    const char* const run_mark = run_;
    if (depth > scratch_.deepest_object) scratch_.deepest_object = depth;
    std::vector<std::string_view>& keys = scratch_.keys_at_depth[depth];
    keys.clear();
    ++p_;
    skip_whitespace_inside();
    if (p_ == end_) return false;
    if (*p_ == '}') {
      ++p_;
      return true;
    }
    for (;;) {
      if (*p_ != '"') return false;
      const char* const key_begin = p_;
      unsigned escapes = 0;
      if (!scan_string<true>(escapes)) return false;
      keys.push_back(escapes == 0 ? std::string_view(key_begin, static_cast<size_t>(p_ - key_begin))
                                  : writer_text_of_key(key_begin, p_));
      skip_whitespace_inside();
      if (p_ == end_ || *p_ != ':') return false;
      ++p_;
      skip_whitespace_inside();
      if (p_ == end_ || !scan_value(depth)) return false;
      skip_whitespace_inside();
      if (p_ == end_) return false;
      if (*p_ == '}') break;
      if (*p_ != ',') return false;
      ++p_;
      skip_whitespace_inside();
      if (p_ == end_) return false;
    }
    ++p_;
    // Keys in the writer's form are equal exactly when their texts are.
    if (keys.size() > 1 && has_repeated_key(keys)) rewrite_through_value_model(object_begin, out_mark, run_mark);
    return true;
  }

  // A key with escapes that the writer spells otherwise, as the writer
  // writes it, kept for the repeated-key test of its object.
  std::string_view writer_text_of_key(const char* key_begin, const char* key_end) {
    scratch_.decoded_key.clear();
    json::decode_string_content({key_begin + 1, static_cast<size_t>(key_end - key_begin - 2)}, scratch_.decoded_key);
    json::ByteBuffer text;
    json::serialize_str(scratch_.decoded_key, text);
    return scratch_.rewritten_keys.emplace_back(text.view());
  }

  // An object with a repeated key keeps the key's first position and takes
  // its last value: the value model reads it so, and the writer writes that.
  // Whatever the object's members wrote goes; the text pending before the
  // object, still unwritten when it began, goes out first.
  void rewrite_through_value_model(const char* object_begin, uint64_t out_mark, const char* run_mark) {
    out_.truncate(out_mark);
    run_ = run_mark;
    flush_run(object_begin);
    const std::string_view text(object_begin, static_cast<size_t>(p_ - object_begin));
    memory::Arena arena(text.size());
    const std::optional<json::Value> object = json::read_fragment(text, arena);
    if (!object) throw std::logic_error("an object that was checked failed to read again");
    json::write_value(*object, out_);
    run_ = p_;
    rewriting_ = true;
  }

  const char* const begin_;
  const char* const end_;
  json::ByteBuffer& out_;
  const char* p_ = nullptr;
  const char* run_ = nullptr;  // where the text not yet in `out_` begins, while rewriting
  bool rewriting_ = false;     // whether the current member value's text differs from the writer's
  ReaderScratch& scratch_;
};

}  // namespace vornel::columnar
