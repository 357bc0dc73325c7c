// The properties the fuzz targets check, shared with the regression test
// that replays every input the fuzzers ever found.
//
// Each returns false when the property fails.
#pragma once

#include <span>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "columnar/columnarize.h"
#include "columnar/document_transform.h"
#include "columnar/row_reader.h"
#include "json/reader.h"
#include "json/writer.h"

namespace vornel::fuzz {

// Any bytes through the whole transform: the outcome is a well-formed
// columnar document or one of the two refusal messages.
inline bool columnarize_is_sound(std::string_view payload) {
  columnar::Outcome outcome = columnar::columnarize_json(payload);
  if (auto* message = std::get_if<std::string>(&outcome)) {
    return message->starts_with("invalid row-oriented JSON: ") ||
           message->starts_with("expected a JSON object row, got: ");
  }
  // The document must read back: wrapped in an array, as the reader expects.
  const json::ByteBuffer& output = std::get<json::ByteBuffer>(outcome);
  std::string wrapped = "[" + std::string(output.view()) + "]";
  json::Arena arena;
  return !std::holds_alternative<json::Error>(json::read_value_list(wrapped, arena));
}

// Reader against writer: whatever reads successfully, once written, reads
// again to an equal value and writes to identical bytes. Floats included:
// the reader gives the double nearest to the text and the writer a text that
// reads back as the same double.
namespace detail {

using namespace json;

inline std::string write_list(std::span<const Value> values) {
  ByteBuffer out;
  out.push_back('[');
  for (size_t i = 0; i < values.size(); ++i) {
    if (i != 0) out.push_back(',');
    write_value(values[i], out);
  }
  out.push_back(']');
  return std::string(out.view());
}

}  // namespace detail

inline bool reader_and_writer_agree(std::string_view input) {
  using namespace detail;
  Arena arena;
  auto first = read_value_list(input, arena);
  auto* values = std::get_if<std::vector<Value>>(&first);
  if (values == nullptr) return true;

  const std::string text = write_list(*values);
  auto second = read_value_list(text, arena);
  auto* again = std::get_if<std::vector<Value>>(&second);
  if (again == nullptr || again->size() != values->size()) return false;
  for (size_t i = 0; i < values->size(); ++i) {
    if (!eq((*values)[i], (*again)[i])) return false;
  }
  return write_list(*again) == text;
}

// The streaming engine against the document path, on every scanner this
// CPU runs: identical bytes or the identical message. And no valid payload
// is left to the document path: the row reader takes every array of
// objects (below its 4 GiB limits, which no fuzz input reaches).
inline std::vector<columnar::ScanPath> scan_paths() {
  std::vector<columnar::ScanPath> paths{columnar::ScanPath::word};
#if defined(__x86_64__)
  paths.push_back(columnar::ScanPath::sse2);
  if (__builtin_cpu_supports("avx2")) paths.push_back(columnar::ScanPath::avx2);
#endif
  return paths;
}

inline bool engine_matches_documents(std::string_view payload) {
  const columnar::Outcome reference = columnar::columnarize_document(payload);
  const auto* expected = std::get_if<json::ByteBuffer>(&reference);
  for (const columnar::ScanPath path : scan_paths()) {
    columnar::PlanState state(payload);
    const bool read = columnar::read_rows(state, path);
    if (read != (expected != nullptr)) return false;
    auto planned = columnar::plan_columnar(payload, path);
    if (auto* message = std::get_if<std::string>(&planned)) {
      if (expected != nullptr || *message != std::get<std::string>(reference)) return false;
      continue;
    }
    const columnar::Plan& plan = std::get<columnar::Plan>(planned);
    if (expected == nullptr || plan.output_size() != expected->size()) return false;
    std::string written(plan.output_size(), '\0');
    plan.write(written.data());
    if (written != expected->view()) return false;
  }
  return true;
}

}  // namespace vornel::fuzz
