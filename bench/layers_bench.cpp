// Each layer of a call on real documents, in bytes of input per second, beside
// memcpy of the same bytes as the physical limit:
//
//   memcpy      copy the document
//   read        read_value_list
//   write       write every element of the document, read beforehand
//   read_write  read_value_list, then write every element back out
//   columnarize the whole transform
//
// The documents are the JSON files named on the command line (after Google
// Benchmark's own flags); bench/layers generates the usual set and runs this.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "columnar/columnarize.h"
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

void run_read_write(benchmark::State& state, const std::string& document) {
  for (auto _ : state) {
    json::Arena arena(document.size() / 2);
    auto result = json::read_value_list(document, arena);
    json::ByteBuffer out;
    if (auto* values = std::get_if<std::vector<json::Value>>(&result)) {
      for (const json::Value& value : *values) json::write_value(value, out);
    }
    benchmark::DoNotOptimize(out);
  }
  bytes_processed(state, document);
}

void run_write(benchmark::State& state, const std::string& document) {
  json::Arena arena(document.size() / 2);
  auto result = json::read_value_list(document, arena);
  const auto* values = std::get_if<std::vector<json::Value>>(&result);
  if (values == nullptr) {
    state.SkipWithError("the document does not read");
    return;
  }
  for (auto _ : state) {
    json::ByteBuffer out;
    for (const json::Value& value : *values) json::write_value(value, out);
    benchmark::DoNotOptimize(out);
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
    benchmark::RegisterBenchmark((name + "/read").c_str(), run_read, document);
    benchmark::RegisterBenchmark((name + "/write").c_str(), run_write, document);
    benchmark::RegisterBenchmark((name + "/read_write").c_str(), run_read_write, document);
    benchmark::RegisterBenchmark((name + "/columnarize").c_str(), run_columnarize, document);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
