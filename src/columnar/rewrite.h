// The writer's text for payload values that are valid JSON but not already
// in the writer's form, appended to a plan's rewrite buffer.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/writer.h"

namespace vornel::columnar {

// Decodes the escapes of a string's content (without quotes) into `out`.
// The content must have been checked.
void decode_string_content(std::string_view content, std::string& out);

// Appends to a plan's rewrite buffer the writer's text for values whose text
// is valid but not already the writer's. The input has been read and checked
// already; only its form changes. Each call returns the offset of the new
// text. One rewriter serves a whole payload, reusing its scratch storage.
class Rewriter {
 public:
  explicit Rewriter(json::ByteBuffer& out) noexcept : out_(out) {}

  // A string's text, quotes included, whose escapes the writer writes
  // differently (or not at all).
  uint64_t string(std::string_view text);

  // A number read as the float `value`, whose writer's text is `text`: the
  // text, preceded by the value itself as 8 bytes (see PlanState::rewrites).
  uint64_t number(double value, std::string_view text);

  // An array or object with whitespace or rewritten content inside, or a
  // repeated key.
  uint64_t container(std::string_view text);

 private:
  friend class Canonicalizer;

  void append_string(std::string_view text);
  std::vector<std::pair<size_t, size_t>>& key_spans_at(size_t depth);

  json::ByteBuffer& out_;
  std::string decoded_;
  // The keys written for the objects open at each depth, as (offset,
  // length) in `out_`, which may move as it grows. A deque, so that adding
  // a depth leaves the open ones where they are.
  std::deque<std::vector<std::pair<size_t, size_t>>> key_spans_;
  // Views of the keys of the object just closed, for the repeated-key test:
  // one list serves every object, as the test runs once its members are done.
  std::vector<std::string_view> key_texts_;
};

}  // namespace vornel::columnar
