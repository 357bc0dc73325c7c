// The forward pass that reads a payload's rows straight into cells.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "columnar/columnarize.h"
#include "columnar/plan_state.h"

namespace vornel::columnar {

// Which scanner reads strings and whitespace (see json/scan.h).
enum class ScanPath : uint8_t { word, sse2, avx2 };

// The widest path this CPU runs. Test builds (VORNEL_TEST_HOOKS) take the
// path named by the environment variable VORNEL_SCAN_PATH ("word", "sse2"
// or "avx2") instead, so that every path runs the whole suite.
ScanPath fastest_scan_path() noexcept;

// plan_columnar with a chosen scanner.
std::variant<Plan, std::string> plan_columnar(std::string_view payload, ScanPath path);

// Reads `state.payload` into `state`: every member's key to its column and
// every non-null value to a cell, with the columns' row statistics.
//
// False when the payload is anything but a well-formed array of objects (or
// lies beyond this pass's limits, such as a value of 4 GiB): the document
// path then reads it, and gives the exact message or the output. True only
// for payloads that the document path would accept whole.
bool read_rows(PlanState& state, ScanPath path);

}  // namespace vornel::columnar
