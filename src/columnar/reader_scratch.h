// The row reader's working storage, kept with a plan's state so that a
// later plan reuses it instead of allocating it afresh.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "json/lexical.h"

namespace vornel::columnar {

struct ReaderScratch {
  std::vector<uint32_t> previous_columns;  // the previous row's column at each position
  std::vector<uint32_t> current_columns;
  std::string decoded_key;
  // The keys of the objects open at each depth, for the repeated-key test,
  // and the writer's texts of the keys whose escapes it writes otherwise (a
  // deque never moves its strings, so views of them stay valid).
  std::array<std::vector<std::string_view>, json::kMaxDepth + 1> keys_at_depth;
  unsigned deepest_object = 0;  // no list deeper than this was ever used
  std::deque<std::string> rewritten_keys;

  void clear() noexcept {
    previous_columns.clear();
    current_columns.clear();
    rewritten_keys.clear();
  }

  size_t retained_bytes() const noexcept {
    size_t bytes = (previous_columns.capacity() + current_columns.capacity()) * sizeof(uint32_t) +
                   decoded_key.capacity();
    for (unsigned depth = 0; depth <= deepest_object; ++depth) {
      bytes += keys_at_depth[depth].capacity() * sizeof(std::string_view);
    }
    return bytes;
  }
};

}  // namespace vornel::columnar
