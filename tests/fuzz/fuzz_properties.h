// The properties the fuzz targets check, shared with the regression test
// that replays every input the fuzzers ever found.
//
// Each returns false when the property fails.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "columnar/columnarize.h"
#include "columnar/document_transform.h"
#include "columnar/row_reader.h"
#include "json/reader.h"
#include "json/writer.h"
#include "number_model.h"

namespace vornel::fuzz {

// Any bytes through the whole transform: the outcome is a well-formed
// columnar document or one of the two refusal messages.
inline bool columnarize_is_sound(std::string_view payload) {
  columnar::Outcome outcome = columnar::columnarize_json(payload);
  if (auto* message = std::get_if<std::string>(&outcome)) {
    return message->starts_with(columnar::kInvalidPayloadPrefix) ||
           message->starts_with(columnar::kNotAnObjectPrefix);
  }
  // The document must read back: wrapped in an array, as the reader expects.
  const json::ByteBuffer& output = std::get<json::ByteBuffer>(outcome);
  std::string wrapped = "[" + std::string(output.view()) + "]";
  json::Arena arena;
  return !std::holds_alternative<json::Error>(json::read_value_list(wrapped, arena));
}

// Reader against writer: whatever reads successfully, once written, reads
// again to an equal value and writes to identical bytes.
//
// Floats are the one exception. The reader converts decimal text fast, not
// correctly rounded, so the shortest text of a double (which a correctly
// rounded reader maps back to it) may read as a neighbour. Each float read
// the second time must be exactly what the model of the conversion makes of
// the written text, and the bytes are compared only for documents where no
// float moved.
namespace detail {

using namespace json;

// eq, where a float read from the written text must be the model's reading
// of that text. Sets `moved` when any float moved.
inline bool equal_under_model(const Value& first, const Value& again, bool& moved) {
  if (first.kind() != again.kind()) return false;
  switch (first.kind()) {
    case Kind::number: {
      if (first.number_rep() != NumberRep::floating || again.number_rep() != NumberRep::floating) {
        return eq(first, again);
      }
      char text[kFloatScratch];
      const std::optional<double> model = model_float({text, static_cast<size_t>(write_f64(first.as_f64(), text) - text)});
      moved |= std::bit_cast<uint64_t>(first.as_f64()) != std::bit_cast<uint64_t>(again.as_f64());
      return model && std::bit_cast<uint64_t>(*model) == std::bit_cast<uint64_t>(again.as_f64());
    }
    case Kind::array: {
      auto xs = first.as_array(), ys = again.as_array();
      if (xs.size() != ys.size()) return false;
      for (size_t i = 0; i < xs.size(); ++i) {
        if (!equal_under_model(xs[i], ys[i], moved)) return false;
      }
      return true;
    }
    case Kind::object: {
      if (first.as_object().size() != again.as_object().size()) return false;
      for (const Member& m : first.as_object()) {
        const Value* other = again.as_object().get(m.key.view());
        if (other == nullptr || !equal_under_model(m.value, *other, moved)) return false;
      }
      return true;
    }
    default:
      return eq(first, again);
  }
}

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
  bool moved = false;
  for (size_t i = 0; i < values->size(); ++i) {
    if (!equal_under_model((*values)[i], (*again)[i], moved)) return false;
  }
  return moved || write_list(*again) == text;
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
    columnar::PlanState state;
    state.start(payload);
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
