#include "columnar/rewrite.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "columnar/writer_form.h"
#include "json/number.h"
#include "json/reader.h"
#include "json/scan.h"
#include "json/utf8.h"

namespace vornel::columnar {
namespace {

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
    auto cp = static_cast<uint32_t>(json::scan::hex4_value(p));  // checked: four hex digits
    p += 4;
    if (cp >= 0xD800 && cp <= 0xDBFF) {  // checked: a trailing surrogate's escape follows
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(json::scan::hex4_value(p + 2)) - 0xDC00);
      p += 6;
    }
    json::append_utf8(out, cp);
  }
}

void Rewriter::append_string(std::string_view text) {
  decoded_.clear();
  decode_string_content(text.substr(1, text.size() - 2), decoded_);
  json::serialize_str(decoded_, out_);
}

uint64_t Rewriter::string(std::string_view text) {
  const uint64_t at = out_.size();
  append_string(text);
  return at;
}

uint64_t Rewriter::number(double value, std::string_view text) {
  out_.append(reinterpret_cast<const char*>(&value), sizeof value);
  const uint64_t at = out_.size();
  out_.append(text);
  return at;
}

std::vector<std::pair<size_t, size_t>>& Rewriter::key_spans_at(size_t depth) {
  if (depth >= key_spans_.size()) key_spans_.resize(depth + 1);
  return key_spans_[depth];
}

namespace {

// Rewrites one checked value into the writer's form without building a
// document: whitespace goes, and only the strings and numbers whose text
// differs are rewritten; the rest is copied. An object with a repeated key
// goes through the document model, which keeps the key's first position and
// its last value.
}  // namespace

class Canonicalizer {
 public:
  Canonicalizer(std::string_view text, Rewriter& rewriter) noexcept
      : text_(text), p_(text.data()), end_(text.data() + text.size()), rewriter_(rewriter), out_(rewriter.out_) {}

  void value() {
    skip_whitespace();
    switch (*p_) {
      case '"':
        string();
        return;
      case '[':
        array();
        return;
      case '{':
        object();
        return;
      case 't':
        copy(4);
        return;
      case 'f':
        copy(5);
        return;
      case 'n':
        copy(4);
        return;
      default:
        number();
        return;
    }
  }

 private:
  void skip_whitespace() noexcept {
    while (p_ != end_ && json::scan::is_whitespace(*p_)) ++p_;
  }
  void copy(size_t length) {
    out_.append(p_, length);
    p_ += length;
  }

  void string() {
    const char* q = p_ + 1;
    bool in_writer_form = true;
    bool non_ascii = false;
    for (;;) {
      q = json::scan::WordScan::find_string_stop(q, end_, non_ascii);
      if (*q == '"') break;
      const size_t length = q[1] == 'u' ? 6 : 2;  // a checked escape
      in_writer_form &= escape_in_writer_form(q, length);
      q += length;
    }
    const std::string_view text(p_, static_cast<size_t>(q + 1 - p_));
    if (in_writer_form) {
      out_.append(text);
    } else {
      rewriter_.append_string(text);
    }
    p_ = q + 1;
  }

  void number() {
    const char* const start = p_;
    const bool negative = *p_ == '-';
    const char* const digits = p_ + negative;
    const char* p = json::scan::skip_digits(digits, end_);
    const char* const point = p;
    const bool has_fraction = p != end_ && *p == '.';
    if (has_fraction) p = json::scan::skip_digits(p + 1, end_);
    const char* const fraction_end = p;
    const bool has_exponent = p != end_ && (*p | 0x20) == 'e';
    if (has_exponent) p = json::scan::skip_digits(p + 2, end_);  // past the letter and a sign or first digit
    p_ = p;
    const bool in_writer_form =
        !has_exponent && (has_fraction ? short_plain_float_in_writer_form(digits, point, fraction_end)
                                       : integer_in_writer_form(digits, static_cast<size_t>(point - digits), negative));
    if (in_writer_form) {
      out_.append(start, static_cast<size_t>(p - start));
      return;
    }
    size_t cursor = static_cast<size_t>(digits - text_.data());
    json::Value number;
    json::NumberFailure failure;
    json::read_number(text_, cursor, negative, number, failure);  // checked already
    char scratch[json::kFloatScratch];
    out_.append(scratch, static_cast<size_t>(json::write_f64(number.as_f64(), scratch) - scratch));
  }

  void array() {
    out_.push_back('[');
    ++p_;
    skip_whitespace();
    if (*p_ != ']') {
      for (;;) {
        value();
        skip_whitespace();
        if (*p_ == ']') break;
        out_.push_back(',');
        ++p_;
      }
    }
    out_.push_back(']');
    ++p_;
  }

  void object() {
    const char* const source = p_;
    const size_t start = out_.size();
    std::vector<std::pair<size_t, size_t>>& keys = rewriter_.key_spans_at(depth_++);
    keys.clear();
    out_.push_back('{');
    ++p_;
    skip_whitespace();
    if (*p_ != '}') {
      for (;;) {
        skip_whitespace();
        const size_t key_start = out_.size();
        string();
        keys.emplace_back(key_start, out_.size() - key_start);
        skip_whitespace();
        out_.push_back(':');
        ++p_;
        value();
        skip_whitespace();
        if (*p_ == '}') break;
        out_.push_back(',');
        ++p_;
      }
    }
    out_.push_back('}');
    ++p_;
    --depth_;
    // The keys' texts, now that nothing more is written that could move them.
    std::vector<std::string_view>& key_texts = rewriter_.key_texts_;
    key_texts.clear();
    for (const auto& [at, length] : keys) key_texts.emplace_back(out_.data() + at, length);
    if (!has_repeated_key(key_texts)) return;
    out_.truncate(start);
    memory::Arena arena(static_cast<size_t>(p_ - source));
    const std::optional<json::Value> decoded =
        json::read_fragment(std::string_view(source, static_cast<size_t>(p_ - source)), arena);
    if (!decoded) throw std::logic_error("a value that was checked failed to read again");
    json::write_value(*decoded, out_);
  }

  const std::string_view text_;
  const char* p_;
  const char* const end_;
  Rewriter& rewriter_;
  json::ByteBuffer& out_;
  size_t depth_ = 0;
};

uint64_t Rewriter::container(std::string_view text) {
  const uint64_t at = out_.size();
  Canonicalizer(text, *this).value();
  return at;
}

}  // namespace vornel::columnar
