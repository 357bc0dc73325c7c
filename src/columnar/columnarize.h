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
// Exceptions: exhausted memory surfaces as std::bad_alloc. Anything else
// that escapes (std::length_error for a buffer beyond the address space,
// std::logic_error when the output would not come out at its planned
// length) is an internal fault, never the payload's doing.
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
  Plan& operator=(Plan&&) noexcept;
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
