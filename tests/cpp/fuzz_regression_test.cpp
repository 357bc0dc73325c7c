// Replays every input the fuzzers found against the properties they check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_properties.h"

namespace {

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void replay(const char* target, bool (*property)(std::string_view)) {
  const std::filesystem::path directory = std::filesystem::path(VORNEL_FUZZ_REGRESSIONS) / target;
  size_t replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
    EXPECT_TRUE(property(read_file(entry.path()))) << entry.path();
    ++replayed;
  }
  testing::Test::RecordProperty("replayed", static_cast<int>(replayed));
  EXPECT_GT(replayed, 0u) << "nothing to replay in " << directory;
}

TEST(FuzzRegressions, ColumnarizeStaysSound) { replay("columnarize", vornel::fuzz::columnarize_is_sound); }

TEST(FuzzRegressions, EngineMatchesDocuments) { replay("engine", vornel::fuzz::engine_matches_documents); }

TEST(FuzzRegressions, ReaderAndWriterAgree) { replay("roundtrip", vornel::fuzz::reader_and_writer_agree); }

}  // namespace
