// The row-to-column transform: a JSON array of row objects in, the compact
// {"columns":[...],"rows":[[...],...],"constants":{...}} document out.
//
// Runs without the interpreter lock: it touches no Python object and shares
// no mutable state, so calls on different threads never interact.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "json/writer.h"

namespace vornel::columnar {

// Either the bytes of the columnar document or a message saying why the
// payload was refused.
using Outcome = std::variant<json::ByteBuffer, std::string>;

// `payload` must stay alive and unchanged for the whole call. Exhausted
// memory surfaces as std::bad_alloc; there is no other exception on any input.
Outcome columnarize_json(std::string_view payload);

}  // namespace vornel::columnar
