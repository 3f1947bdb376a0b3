#include "monitor/config_pause.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <json/json.h>

namespace orlin {
namespace {

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(ORLIN_MONITOR_FIXTURES) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

Json::Value Parse(const std::string& text) {
  Json::Value value;
  std::istringstream in(text);
  in >> value;
  return value;
}

constexpr char kFolder[] = "aliceVGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";

TEST(PauseFlag, SetsEveryFolderAndKeepsTheRestOfTheCapturedConfiguration) {
  const std::string captured = Fixture("system_config.json");
  ASSERT_FALSE(captured.empty());
  const PauseEditResult paused = SetFoldersPaused(captured, kFolder, true);
  ASSERT_EQ(paused.outcome, PauseEdit::kEdited);
  Json::Value before = Parse(captured);
  Json::Value after = Parse(paused.document);
  EXPECT_TRUE(after["folders"][0]["paused"].asBool());
  // Nothing else changed.
  before["folders"][0]["paused"] = true;
  EXPECT_EQ(before, after);

  const PauseEditResult resumed = SetFoldersPaused(paused.document, kFolder, false);
  ASSERT_EQ(resumed.outcome, PauseEdit::kEdited);
  EXPECT_FALSE(Parse(resumed.document)["folders"][0]["paused"].asBool());
}

TEST(PauseFlag, AnUnknownOrForeignFolderStopsTheWalk) {
  const std::string captured = Fixture("system_config.json");
  EXPECT_EQ(SetFoldersPaused(captured, "", true).outcome, PauseEdit::kUnknownFolder);
  EXPECT_EQ(SetFoldersPaused(captured, "someone-else", true).outcome, PauseEdit::kUnknownFolder);
  // A second folder that is not ours: nothing is edited, not even the first.
  const std::string two = R"({"folders":[{"id":"a","paused":false},{"id":"b","paused":false}]})";
  const PauseEditResult result = SetFoldersPaused(two, "a", true);
  EXPECT_EQ(result.outcome, PauseEdit::kUnknownFolder);
  EXPECT_TRUE(result.document.empty());
  // No folders at all: every (none) folder matches.
  EXPECT_EQ(SetFoldersPaused(R"({"folders":[]})", "a", true).outcome, PauseEdit::kEdited);
}

TEST(PauseFlag, BadAnswersAreNotEdited) {
  for (const std::string bad : {"", "{", "[]", "null", R"({"folders":{}})", R"({"folders":"x"})", "garbage"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(SetFoldersPaused(bad, "a", true).outcome, PauseEdit::kNotParsable);
  }
  // A folder without an id, or an id that is not text.
  EXPECT_EQ(SetFoldersPaused(R"({"folders":[{"paused":false}]})", "a", true).outcome, PauseEdit::kUnknownFolder);
  EXPECT_EQ(SetFoldersPaused(R"({"folders":[{"id":7}]})", "a", true).outcome, PauseEdit::kUnknownFolder);
  // A folder without `paused` gets one.
  const auto added = SetFoldersPaused(R"({"folders":[{"id":"a"}]})", "a", true);
  ASSERT_EQ(added.outcome, PauseEdit::kEdited);
  EXPECT_TRUE(Parse(added.document)["folders"][0]["paused"].asBool());
}

TEST(PauseFlag, LargeIntegersSurvive) {
  const auto result = SetFoldersPaused(
      R"({"folders":[{"id":"a","paused":false,"minDiskFree":{"value":1}}],"options":{"maxSendKbps":4000000000}})",
      "a", true);
  ASSERT_EQ(result.outcome, PauseEdit::kEdited);
  EXPECT_EQ(Parse(result.document)["options"]["maxSendKbps"].asUInt64(), 4000000000u);

  // Beyond what a double holds, and with more digits than it prints.
  const auto big = SetFoldersPaused(
      R"({"folders":[{"id":"a","sizes":[18446744073709551615,-9007199254740993,1234567890123456789,2.5]}],)"
      R"("version":1})",
      "a", true);
  ASSERT_EQ(big.outcome, PauseEdit::kEdited);
  const Json::Value sizes = Parse(big.document)["folders"][0]["sizes"];
  EXPECT_EQ(sizes[0].asUInt64(), 18446744073709551615ull);
  EXPECT_EQ(sizes[1].asInt64(), -9007199254740993ll);
  EXPECT_EQ(sizes[2].asUInt64(), 1234567890123456789ull);
  EXPECT_EQ(sizes[3].asDouble(), 2.5);
  EXPECT_TRUE(Parse(big.document)["folders"][0]["paused"].asBool());
}

}  // namespace
}  // namespace orlin
