// JSONTestSuite (test_parsing): y_ files must be accepted when their top level
// is an array, n_ files rejected, and i_ files ("implementation defined") give
// exactly the outcome recorded in tests/data/i_outcomes.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "json/reader.h"

namespace vornel::json {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(__FILE__).parent_path().parent_path() / "data";
const fs::path kSuite = kData / "json-test-suite" / "test_parsing";
const fs::path kOutcomes = kData / "i_outcomes.txt";

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> suite_files(std::string_view prefix) {
  std::vector<std::string> names;
  if (!fs::is_directory(kSuite)) return names;
  for (const auto& entry : fs::directory_iterator(kSuite)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// "accept", or the error text.
std::string outcome_of(const std::string& name) {
  const std::string text = slurp(kSuite / name);
  Arena arena;
  auto result = read_value_list(text, arena);
  if (auto* error = std::get_if<Error>(&result)) return error->text();
  return "accept";
}

std::string test_name(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.substr(0, info.param.size() - 5);  // drop ".json"
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name + "_" + std::to_string(info.index);
}

bool top_level_is_array(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  return first != text.npos && text[first] == '[';
}

TEST(Conformance, SuiteIsPresent) {
  EXPECT_GT(suite_files("y_").size(), 90u) << kSuite;
  EXPECT_GT(suite_files("n_").size(), 180u) << kSuite;
  EXPECT_GT(suite_files("i_").size(), 30u) << kSuite;
}

class MustAccept : public testing::TestWithParam<std::string> {};
TEST_P(MustAccept, ArrayDocumentsAreReadAndOthersRefusedAsNotAnArray) {
  const std::string text = slurp(kSuite / GetParam());
  Arena arena;
  auto result = read_value_list(text, arena);
  if (top_level_is_array(text)) {
    EXPECT_TRUE(std::holds_alternative<std::vector<Value>>(result)) << std::get<Error>(result).text();
  } else {
    ASSERT_TRUE(std::holds_alternative<Error>(result));
    EXPECT_EQ(std::get<Error>(result).message.rfind("invalid type: ", 0), 0u) << std::get<Error>(result).text();
  }
}
INSTANTIATE_TEST_SUITE_P(Y, MustAccept, testing::ValuesIn(suite_files("y_")), test_name);

class MustReject : public testing::TestWithParam<std::string> {};
TEST_P(MustReject, IsRejected) { EXPECT_NE(outcome_of(GetParam()), "accept"); }
INSTANTIATE_TEST_SUITE_P(N, MustReject, testing::ValuesIn(suite_files("n_")), test_name);

// tests/data/i_outcomes.txt: "<file> <tab> accept|<error text>" per line;
// lines starting with # are comments.
std::map<std::string, std::string> recorded_outcomes() {
  std::map<std::string, std::string> outcomes;
  std::ifstream in(kOutcomes);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    if (tab != line.npos) outcomes[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return outcomes;
}

class Implementation : public testing::TestWithParam<std::string> {};
TEST_P(Implementation, GivesTheRecordedOutcome) {
  static const std::map<std::string, std::string> outcomes = recorded_outcomes();
  const auto recorded = outcomes.find(GetParam());
  ASSERT_NE(recorded, outcomes.end()) << GetParam() << " has no recorded outcome in " << kOutcomes;
  EXPECT_EQ(outcome_of(GetParam()), recorded->second);
}
INSTANTIATE_TEST_SUITE_P(I, Implementation, testing::ValuesIn(suite_files("i_")), test_name);

TEST(Conformance, EveryRecordedOutcomeNamesASuiteFile) {
  for (const auto& [name, outcome] : recorded_outcomes()) EXPECT_TRUE(fs::exists(kSuite / name)) << name;
  EXPECT_EQ(recorded_outcomes().size(), suite_files("i_").size());
}

}  // namespace
}  // namespace vornel::json
