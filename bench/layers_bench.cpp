// Each layer of a call on real documents, in bytes of input per second
// (output bytes for the two marked so), beside memcpy as the physical limit:
//
//   memcpy         copy the document
//   plan           plan_columnar: read the rows into cells, lay out the output
//   write          Plan::write into a buffer of the planned length (output bytes)
//   memcpy_output  copy as many bytes as the output has (output bytes)
//   columnarize    both steps, the whole transform, into a new buffer
//   document       the document path: read into values, transform, write
//   read           read_value_list alone
//
// and, where the build found them, two anchors: what the fastest C and C++
// JSON libraries take to read the same document and write it back compactly,
// each in its own way (a round trip, not our transform):
//
//   yyjson         yyjson_read + yyjson_write + freeing both, with its reusing allocator
//   simdjson       a reused DOM parser's parse + minify to a string
//
// The documents are the JSON files named on the command line (after Google
// Benchmark's own flags); bench/layers generates the usual set and runs this.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#if defined(VORNEL_BENCH_YYJSON)
#include <yyjson.h>
#endif
#if defined(VORNEL_BENCH_SIMDJSON)
#include <simdjson.h>
#endif

#include "columnar/columnarize.h"
#include "columnar/document_transform.h"
#include "json/reader.h"
#include "json/writer.h"

namespace {

namespace json = vornel::json;

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void bytes_processed(benchmark::State& state, const std::string& document) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document.size()));
}

void run_memcpy(benchmark::State& state, const std::string& document) {
  std::string copy(document.size(), '\0');
  for (auto _ : state) {
    std::memcpy(copy.data(), document.data(), document.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  bytes_processed(state, document);
}

void run_read(benchmark::State& state, const std::string& document) {
  for (auto _ : state) {
    json::Arena arena(document.size() / 2);
    auto result = json::read_value_list(document, arena);
    benchmark::DoNotOptimize(result);
  }
  bytes_processed(state, document);
}

void run_plan(benchmark::State& state, const std::string& document) {
  for (auto _ : state) {
    auto planned = vornel::columnar::plan_columnar(document);
    benchmark::DoNotOptimize(planned);
  }
  bytes_processed(state, document);
}

// A plan of the document and a buffer of its output's length.
std::string planned_output(benchmark::State& state, const std::string& document,
                           std::optional<vornel::columnar::Plan>& plan) {
  auto planned = vornel::columnar::plan_columnar(document);
  if (auto* message = std::get_if<std::string>(&planned)) {
    state.SkipWithError(message->c_str());
    return {};
  }
  plan.emplace(std::move(std::get<vornel::columnar::Plan>(planned)));
  return std::string(plan->output_size(), '\0');
}

void run_write(benchmark::State& state, const std::string& document) {
  std::optional<vornel::columnar::Plan> plan;
  std::string out = planned_output(state, document, plan);
  if (!plan) return;
  for (auto _ : state) {
    plan->write(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

void run_memcpy_output(benchmark::State& state, const std::string& document) {
  std::optional<vornel::columnar::Plan> plan;
  std::string out = planned_output(state, document, plan);
  if (!plan) return;
  const std::string source(out.size(), 'x');
  for (auto _ : state) {
    std::memcpy(out.data(), source.data(), out.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

void run_document(benchmark::State& state, const std::string& document) {
  for (auto _ : state) {
    auto outcome = vornel::columnar::columnarize_document(document);
    benchmark::DoNotOptimize(outcome);
  }
  bytes_processed(state, document);
}

void run_columnarize(benchmark::State& state, const std::string& document) {
  for (auto _ : state) {
    auto outcome = vornel::columnar::columnarize_json(document);
    benchmark::DoNotOptimize(outcome);
  }
  bytes_processed(state, document);
}

#if defined(VORNEL_BENCH_YYJSON)
// yyjson at its best: its dynamic allocator keeps the memory of one round
// trip for the next, as the transform keeps its plan's, so that neither
// pays the general-purpose allocator's page faults.
void run_yyjson(benchmark::State& state, const std::string& document) {
  yyjson_alc* allocator = yyjson_alc_dyn_new();
  std::string input = document;  // yyjson_read_opts takes a mutable buffer, which it leaves as it is
  for (auto _ : state) {
    yyjson_doc* doc = yyjson_read_opts(input.data(), input.size(), YYJSON_READ_NOFLAG, allocator, nullptr);
    if (doc == nullptr) {
      state.SkipWithError("yyjson refused the document");
      break;
    }
    size_t length = 0;
    char* text = yyjson_write_opts(doc, YYJSON_WRITE_NOFLAG, allocator, &length, nullptr);
    benchmark::DoNotOptimize(text);
    allocator->free(allocator->ctx, text);
    yyjson_doc_free(doc);
  }
  yyjson_alc_dyn_free(allocator);
  bytes_processed(state, document);
}
#endif

#if defined(VORNEL_BENCH_SIMDJSON)
void run_simdjson(benchmark::State& state, const std::string& document) {
  simdjson::dom::parser parser;
  const simdjson::padded_string padded(document);
  for (auto _ : state) {
    simdjson::dom::element root;
    if (parser.parse(padded).get(root) != simdjson::SUCCESS) {
      state.SkipWithError("simdjson refused the document");
      return;
    }
    std::string text = simdjson::minify(root);
    benchmark::DoNotOptimize(text);
  }
  bytes_processed(state, document);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [benchmark flags] FILE.json...\n", argv[0]);
    return 2;
  }
  // Registered benchmarks keep a pointer to their document: the list must
  // not reallocate once registration begins.
  static std::vector<std::string> documents;
  documents.reserve(static_cast<size_t>(argc - 1));
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path = argv[i];
    const std::string& document = documents.emplace_back(slurp(path));
    const std::string name = path.stem().string();
    benchmark::RegisterBenchmark((name + "/memcpy").c_str(), run_memcpy, document);
    benchmark::RegisterBenchmark((name + "/plan").c_str(), run_plan, document);
    benchmark::RegisterBenchmark((name + "/write").c_str(), run_write, document);
    benchmark::RegisterBenchmark((name + "/memcpy_output").c_str(), run_memcpy_output, document);
    benchmark::RegisterBenchmark((name + "/columnarize").c_str(), run_columnarize, document);
    benchmark::RegisterBenchmark((name + "/document").c_str(), run_document, document);
    benchmark::RegisterBenchmark((name + "/read").c_str(), run_read, document);
#if defined(VORNEL_BENCH_YYJSON)
    benchmark::RegisterBenchmark((name + "/yyjson").c_str(), run_yyjson, document);
#endif
#if defined(VORNEL_BENCH_SIMDJSON)
    benchmark::RegisterBenchmark((name + "/simdjson").c_str(), run_simdjson, document);
#endif
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
