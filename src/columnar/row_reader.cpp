// The row reader for the word scanner and (on x86-64) the SSE2 scanner, and
// the choice among all of them.
#include <cstdlib>

#include "columnar/row_reader_impl.h"

namespace vornel::columnar {

#if defined(__x86_64__)
// Defined in row_reader_avx2.cpp, which is compiled for AVX2.
bool read_rows_with_avx2(PlanState& state);
#endif

namespace {

ScanPath widest_supported_path() noexcept {
#if defined(__x86_64__)
  return __builtin_cpu_supports("avx2") ? ScanPath::avx2 : ScanPath::sse2;
#else
  return ScanPath::word;
#endif
}

#if defined(VORNEL_TEST_HOOKS)
ScanPath forced_or_widest_path() noexcept {
  const ScanPath widest = widest_supported_path();
  const char* forced = std::getenv("VORNEL_SCAN_PATH");
  if (forced == nullptr) return widest;
  const std::string_view name(forced);
  if (name == "word") return ScanPath::word;
  if (name == "sse2" && widest != ScanPath::word) return ScanPath::sse2;
  return widest;
}
#endif

}  // namespace

ScanPath fastest_scan_path() noexcept {
#if defined(VORNEL_TEST_HOOKS)
  static const ScanPath chosen = forced_or_widest_path();
#else
  static const ScanPath chosen = widest_supported_path();
#endif
  return chosen;
}

bool read_rows(PlanState& state, ScanPath path) {
  switch (path) {
#if defined(__x86_64__)
    case ScanPath::avx2:
      return read_rows_with_avx2(state);
    case ScanPath::sse2:
      return RowReader<json::scan::Sse2Scan>(state).read();
#endif
    default:
      return RowReader<json::scan::WordScan>(state).read();
  }
}

}  // namespace vornel::columnar
