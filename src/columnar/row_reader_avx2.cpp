// The row reader for the AVX2 scanner, generated as AVX2 code throughout.
// Only read_rows calls it, after checking the CPU.
//
// Every header is included before code generation is switched on, so that
// the inline functions and templates they define (the standard library's
// among them) are compiled as everywhere else; only the row reader template,
// defined after the switch, becomes AVX2 code.
#if defined(__x86_64__)

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "columnar/cell_match.h"
#include "columnar/row_reader.h"
#include "columnar/writer_form.h"
#include "json/lexical.h"
#include "json/number.h"
#include "json/reader.h"
#include "json/scan.h"
#include "json/utf8.h"
#include "json/writer.h"
#include "memory/arena.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "columnar/row_reader_impl.h"

namespace vornel::columnar {

bool read_rows_with_avx2(PlanState& state) { return RowReader<json::scan::Avx2Scan>(state).read(); }

}  // namespace vornel::columnar

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif  // __x86_64__
