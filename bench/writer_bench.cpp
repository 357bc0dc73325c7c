// The writer's hot paths, each beside the standard library doing the same
// work in the same run: floats (digits and layout) against std::to_chars,
// integers against std::to_chars, and string escaping in bytes per second.
#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "json/shortest_float.h"
#include "json/writer.h"

namespace {

using vornel::json::ByteBuffer;

constexpr size_t kPool = 1 << 12;  // cycled through; small enough for L1/L2

std::vector<double> random_finite_doubles() {
  std::mt19937_64 random(42);
  std::vector<double> values;
  while (values.size() < kPool) {
    const double x = std::bit_cast<double>(random());
    if (std::isfinite(x)) values.push_back(x);
  }
  return values;
}

// Doubles as people type them: up to seven significant digits, moderate
// exponents; most end in long runs of zeros after digit selection.
std::vector<double> short_decimals() {
  std::mt19937_64 random(43);
  std::vector<double> values;
  while (values.size() < kPool) {
    values.push_back(static_cast<double>(random() % 10000000) * std::pow(10.0, static_cast<int>(random() % 16) - 10));
  }
  return values;
}

void run_write_f64(benchmark::State& state, const std::vector<double>& values) {
  char scratch[vornel::json::kFloatScratch];
  size_t i = 0;
  for (auto _ : state) {
    char* end = vornel::json::write_f64(values[i++ & (kPool - 1)], scratch);
    benchmark::DoNotOptimize(end);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

// The standard library's formatter over the same pool, as the reference.
template <typename T>
void run_to_chars(benchmark::State& state, const std::vector<T>& values) {
  char scratch[32];
  size_t i = 0;
  for (auto _ : state) {
    auto result = std::to_chars(scratch, scratch + sizeof scratch, values[i++ & (kPool - 1)]);
    benchmark::DoNotOptimize(result.ptr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

// Digit selection alone, to show what the layout adds.
void BM_ShortestDecimal_Random(benchmark::State& state) {
  const auto values = random_finite_doubles();
  size_t i = 0;
  for (auto _ : state) {
    const double x = values[i++ & (kPool - 1)];
    if (x == 0) continue;
    benchmark::DoNotOptimize(vornel::json::shortest_decimal(x));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ShortestDecimal_Random);

void BM_WriteF64_Random(benchmark::State& state) { run_write_f64(state, random_finite_doubles()); }
void BM_ToChars_Random(benchmark::State& state) { run_to_chars(state, random_finite_doubles()); }
void BM_WriteF64_Short(benchmark::State& state) { run_write_f64(state, short_decimals()); }
void BM_ToChars_Short(benchmark::State& state) { run_to_chars(state, short_decimals()); }
BENCHMARK(BM_WriteF64_Random);
BENCHMARK(BM_ToChars_Random);
BENCHMARK(BM_WriteF64_Short);
BENCHMARK(BM_ToChars_Short);

std::vector<uint64_t> random_u64() {
  std::mt19937_64 random(44);
  std::vector<uint64_t> values(kPool);
  for (auto& v : values) v = random();
  return values;
}

void BM_WriteU64_Random(benchmark::State& state) {
  const auto values = random_u64();
  char scratch[vornel::json::kIntegerScratch];
  size_t i = 0;
  for (auto _ : state) {
    auto text = vornel::json::write_u64(values[i++ & (kPool - 1)], scratch);
    benchmark::DoNotOptimize(text);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteU64_Random);

void BM_ToCharsU64_Random(benchmark::State& state) { run_to_chars(state, random_u64()); }
BENCHMARK(BM_ToCharsU64_Random);

// A 64 KiB text of printable ASCII, with `escaped_percent` of its bytes
// replaced by ones that must be escaped (quotes, backslashes, newlines,
// control bytes).
std::string ascii_text(int escaped_percent) {
  std::mt19937_64 random(45);
  const char escaped[] = {'"', '\\', '\n', '\t', '\x01', '\x1f'};
  std::string text(1 << 16, ' ');
  for (char& c : text) {
    c = static_cast<int>(random() % 100) < escaped_percent ? escaped[random() % sizeof escaped]
                                                           : static_cast<char>(' ' + 3 + random() % 90);
    if (c == '\\' && escaped_percent == 0) c = 'x';
  }
  return text;
}

void run_serialize_str(benchmark::State& state, int escaped_percent) {
  const std::string text = ascii_text(escaped_percent);
  ByteBuffer out;
  for (auto _ : state) {
    ByteBuffer fresh;
    out = std::move(fresh);
    vornel::json::serialize_str(text, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_SerializeStr_Ascii(benchmark::State& state) { run_serialize_str(state, 0); }
void BM_SerializeStr_TenPercentEscaped(benchmark::State& state) { run_serialize_str(state, 10); }
BENCHMARK(BM_SerializeStr_Ascii);
BENCHMARK(BM_SerializeStr_TenPercentEscaped);

// Short keys and values, as in row objects: the per-call overhead.
void BM_SerializeStr_ShortStrings(benchmark::State& state) {
  const std::string words[] = {"id", "name", "created_at", "status", "Zürich", "a \"quoted\" word"};
  ByteBuffer out;
  size_t bytes = 0;
  for (auto _ : state) {
    ByteBuffer fresh;
    out = std::move(fresh);
    for (int i = 0; i < 64; ++i) {
      vornel::json::serialize_str(words[i % 6], out);
    }
    bytes += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_SerializeStr_ShortStrings);

// A whole document shaped like the library's output rows: short keys and
// strings, small integers, typed decimals, booleans, nulls and small arrays.
vornel::json::Value sample_rows(vornel::json::Arena& arena) {
  using vornel::json::Map;
  using vornel::json::String;
  using vornel::json::Value;
  std::mt19937_64 random(46);
  std::vector<Value> rows;
  for (int i = 0; i < 1000; ++i) {
    Map row(arena);
    row.insert_full(String(arena, "id"), Value::non_negative(static_cast<uint64_t>(i)));
    row.insert_full(String(arena, "name"), Value::string(arena, "user_" + std::to_string(random() % 100000)));
    row.insert_full(String(arena, "score"), Value::floating(static_cast<double>(random() % 100000) / 100));
    row.insert_full(String(arena, "balance"), Value::negative(-static_cast<int64_t>(random() % 1000000) - 1));
    row.insert_full(String(arena, "active"), Value::boolean(random() % 2 == 0));
    row.insert_full(String(arena, "note"), random() % 4 == 0 ? Value::string(arena, "said \"hi\"\n") : Value());
    std::vector<Value> tags;
    tags.push_back(Value::string(arena, "alpha"));
    tags.push_back(Value::string(arena, "beta"));
    row.insert_full(String(arena, "tags"), Value::array(arena, tags));
    rows.push_back(Value::object(arena, std::move(row)));
  }
  return Value::array(arena, rows);
}

void BM_WriteValue_Rows(benchmark::State& state) {
  vornel::json::Arena arena;
  const vornel::json::Value document = sample_rows(arena);
  size_t bytes = 0;
  for (auto _ : state) {
    ByteBuffer out;
    vornel::json::write_value(document, out);
    bytes += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_WriteValue_Rows);

}  // namespace

BENCHMARK_MAIN();
