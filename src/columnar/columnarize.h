// The row-to-column transform: a JSON array of row objects in, the compact
// {"columns":[...],"rows":[[...],...],"constants":{...}} document out.
//
// It works in two steps, so that the caller can provide the output's
// storage: plan_columnar reads the payload once and learns the exact length
// of the output; Plan::write then fills exactly that many bytes.
//
// Runs without the interpreter lock: it touches no Python object and shares
// no mutable state, so calls on different threads never interact.
//
// Exceptions. A refused payload is a message, never an exception; what
// escapes plan_columnar, Plan::write and columnarize_json is one of these:
// - std::bad_alloc: memory ran out.
// - std::length_error, reached by a payload's shape alone:
//   "too many columns" when the rows name more than 2^32 - 2 distinct keys
//   (column numbers are 32 bits), and
//   "object has too many members" when an object of 2^32 - 1 members or
//   more is read into values (a nested object with a repeated key, which is
//   rewritten through the reader, or any object of a payload left to the
//   document path) or the document path meets more than 2^31 distinct keys.
//   Such a payload runs to tens of gigabytes and its working memory to
//   hundreds, so memory usually runs out first.
// - std::logic_error, an internal fault and never the payload's doing: the
//   output would not come out at its planned length, or a value that was
//   checked failed to read again. (ByteBuffer's "capacity overflow" needs a
//   buffer of 2^63 bytes: memory runs out long before.)
// The Python boundary (src/lib/transform_call.cpp) catches everything:
// std::bad_alloc becomes MemoryError, and any other exception RuntimeError
// "internal panic during columnarization: " followed by its what(), so that
// the two shapes above reach Python as RuntimeError("internal panic during
// columnarization: too many columns") and ("...: object has too many
// members"), never as a crash.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "columnar/refusals.h"
#include "json/writer.h"

namespace vornel::columnar {

struct PlanState;

// A payload read and indexed, ready to be written.
class Plan {
 public:
  explicit Plan(std::unique_ptr<PlanState> state);
  Plan(Plan&&) noexcept;
  Plan& operator=(Plan&&) noexcept;  // frees the state it held
  // Leaves the state for a later plan to reuse (see plan.cpp).
  ~Plan();

  // The exact length of the columnar document.
  size_t output_size() const noexcept;
  // Writes the document: exactly output_size() bytes at `out`.
  void write(char* out) const;

 private:
  std::unique_ptr<PlanState> state_;
};

// The plan, or the message saying why the payload was refused (one of the
// prefixes of refusals.h, then what was refused). `payload` must stay alive
// and unchanged until the plan is written.
std::variant<Plan, std::string> plan_columnar(std::string_view payload);

// Either the bytes of the columnar document or the message.
using Outcome = std::variant<json::ByteBuffer, std::string>;

// Both steps, into a new buffer.
Outcome columnarize_json(std::string_view payload);

}  // namespace vornel::columnar
