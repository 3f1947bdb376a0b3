#include "engine/live_settings.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <deque>
#include <memory>

namespace orlin {
namespace {

// The shape of the engine's answer (engine-fixtures/system_config.json), cut
// down to what the edit touches plus a 64-bit member that must survive.
std::string Configuration(bool paused, const std::string& folderId = "anna-FOLDER") {
  return R"({"version":36,"folders":[{"id":")" + folderId +
         R"(","path":"/home/anna/Sync","type":"sendreceive","order":"random",)"
         R"("versioning":{"type":"","params":{},"cleanupIntervalS":3600,"fsPath":"","fsType":"basic"},)"
         R"("paused":)" + (paused ? std::string("true") : std::string("false")) +
         R"(,"minDiskFree":{"value":1,"unit":"%"}}],)"
         R"("options":{"maxSendKbps":0,"maxRecvKbps":0,"listenAddresses":["default"],"maxIndexBytes":9007199254740993}})";
}

Json::Value ParseOrDie(const std::string& text) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors)) << errors;
  return value;
}

SyncSettings Changed() {
  SyncSettings s;
  s.syncFolderPath = L"/home/anna/Neuer Ordner";
  s.sendLimit = 321;
  s.receiveLimit = 123;
  s.folderType = kFolderReceiveOnly;
  s.pullOrder = kPullNewestFirst;
  s.versionsKept = 7;
  return s;
}

TEST(LiveSettingsEditTest, EveryChosenValueReachesTheConfigurationAndTheRestStays) {
  LiveSettingsFields all{true, true, true, true, true};
  const auto edit = EditEngineConfiguration(Configuration(true), "anna-FOLDER", Changed(), all);
  ASSERT_EQ(edit.outcome, LiveEdit::kEdited);
  EXPECT_TRUE(edit.folderPaused);
  const Json::Value config = ParseOrDie(edit.document);
  const Json::Value& folder = config["folders"][0];
  EXPECT_EQ(folder["path"].asString(), "/home/anna/Neuer Ordner");
  EXPECT_EQ(folder["type"].asString(), "receiveonly");
  EXPECT_EQ(folder["order"].asString(), "newestFirst");
  EXPECT_EQ(folder["versioning"]["type"].asString(), "simple");
  EXPECT_EQ(folder["versioning"]["params"]["keep"].asString(), "7");
  EXPECT_EQ(folder["versioning"]["cleanupIntervalS"].asInt(), 3600);
  EXPECT_TRUE(folder["paused"].asBool());
  EXPECT_EQ(folder["minDiskFree"]["unit"].asString(), "%");
  EXPECT_EQ(config["options"]["maxSendKbps"].asInt(), 321);
  EXPECT_EQ(config["options"]["maxRecvKbps"].asInt(), 123);
  EXPECT_EQ(config["options"]["maxIndexBytes"].asUInt64(), 9007199254740993ull);
  EXPECT_EQ(config["options"]["listenAddresses"][0].asString(), "default");
}

TEST(LiveSettingsEditTest, OnlyTheChosenValuesChange) {
  LiveSettingsFields limits;
  limits.rateLimits = true;
  const auto edit = EditEngineConfiguration(Configuration(false), "anna-FOLDER", Changed(), limits);
  ASSERT_EQ(edit.outcome, LiveEdit::kEdited);
  const Json::Value config = ParseOrDie(edit.document);
  EXPECT_EQ(config["options"]["maxRecvKbps"].asInt(), 123);
  EXPECT_EQ(config["folders"][0]["type"].asString(), "sendreceive");
  EXPECT_EQ(config["folders"][0]["order"].asString(), "random");
  EXPECT_EQ(config["folders"][0]["path"].asString(), "/home/anna/Sync");
}

TEST(LiveSettingsEditTest, NoVersionsClearsTypeAndParameters) {
  SyncSettings none = Changed();
  none.versionsKept = 0;
  LiveSettingsFields versioning;
  versioning.versioning = true;
  const std::string withFive = EditEngineConfiguration(Configuration(true), "anna-FOLDER", Changed(), versioning).document;
  const auto edit = EditEngineConfiguration(withFive, "anna-FOLDER", none, versioning);
  const Json::Value v = ParseOrDie(edit.document)["folders"][0]["versioning"];
  EXPECT_EQ(v["type"].asString(), "");
  EXPECT_TRUE(v["params"].isObject());
  EXPECT_EQ(v["params"].size(), 0u);
}

TEST(LiveSettingsEditTest, AnotherFolderOrGarbageIsNotEdited) {
  LiveSettingsFields all{true, true, true, true, true};
  EXPECT_EQ(EditEngineConfiguration(Configuration(true, "default"), "anna-FOLDER", Changed(), all).outcome,
            LiveEdit::kUnknownFolder);
  EXPECT_EQ(EditEngineConfiguration("CSRF Error", "anna-FOLDER", Changed(), all).outcome, LiveEdit::kNotParsable);
  EXPECT_EQ(EditEngineConfiguration("", "anna-FOLDER", Changed(), all).outcome, LiveEdit::kNotParsable);
  EXPECT_EQ(EditEngineConfiguration("[1,2]", "anna-FOLDER", Changed(), all).outcome, LiveEdit::kNotParsable);
}

TEST(LiveSettingsEditTest, AConfigurationNestedBeyondTheReadersLimitIsNotParsableNotACrash) {
  // The JSON reader throws past 1000 levels instead of failing
  // (fuzz/corpus/live_settings/deep-nesting.json).
  const std::string deep = "{\"folders\":[{\"id\":\"default\"}],\"x\":" + std::string(1005, '[') +
                           std::string(1005, ']') + "}";
  LiveSettingsFields all{true, true, true, true, true};
  EXPECT_EQ(EditEngineConfiguration(deep, "default", Changed(), all).outcome, LiveEdit::kNotParsable);
}

TEST(LiveSettingsEditTest, ThePostedConfigurationIsPlainJsonWhateverCameWithTheAnswer) {
  // A comment in the answer was written back, and with no line breaks in
  // the document it hid everything after it from the engine
  // (fuzz/corpus/live_settings/comment.json).
  const std::string answer = "{// note\n\"folders\":[{//x\n\"id\":\"default\",\"paused\":true}],\"options\":{}}";
  LiveSettingsFields all{true, true, true, true, true};
  const LiveEditResult edit = EditEngineConfiguration(answer, "default", Changed(), all);
  ASSERT_EQ(edit.outcome, LiveEdit::kEdited);
  EXPECT_EQ(edit.document.find("//"), std::string::npos) << edit.document;
  Json::Value posted;
  Json::CharReaderBuilder strict;
  Json::CharReaderBuilder::strictMode(&strict.settings_);
  std::unique_ptr<Json::CharReader> reader(strict.newCharReader());
  ASSERT_TRUE(reader->parse(edit.document.data(), edit.document.data() + edit.document.size(), &posted, nullptr))
      << edit.document;
  EXPECT_EQ(posted["options"]["maxSendKbps"], 321);
}

class ScriptedEngine : public LiveConfigTransport {
 public:
  std::optional<std::string> GetConfiguration() override {
    ++gets;
    if (answers.empty()) return std::nullopt;
    auto a = answers.front();
    if (answers.size() > 1) answers.pop_front();
    return a;
  }
  bool PostConfiguration(const std::string& document) override {
    posted.push_back(document);
    return postOk;
  }
  std::deque<std::optional<std::string>> answers;
  std::vector<std::string> posted;
  int gets = 0;
  bool postOk = true;
};

LivePushOptions Quick() { return LivePushOptions{std::chrono::milliseconds(300), std::chrono::milliseconds(1)}; }

TEST(LiveSettingsPushTest, WaitsUntilThePauseHasReachedTheEngineBeforeItPosts) {
  ScriptedEngine engine;
  engine.answers = {Configuration(false), Configuration(false), Configuration(true)};
  LiveSettingsFields limits;
  limits.rateLimits = true;
  EXPECT_EQ(PushSettingsToEngine(engine, "anna-FOLDER", Changed(), limits, Quick()), LivePush::kPushed);
  EXPECT_EQ(engine.gets, 3);
  ASSERT_EQ(engine.posted.size(), 1u);
  EXPECT_TRUE(ParseOrDie(engine.posted[0])["folders"][0]["paused"].asBool());
  EXPECT_EQ(ParseOrDie(engine.posted[0])["options"]["maxRecvKbps"].asInt(), 123);
}

TEST(LiveSettingsPushTest, AnEngineThatNeverShowsPausedStillGetsTheValuesInTime) {
  ScriptedEngine engine;
  engine.answers = {Configuration(false)};
  LiveSettingsFields order;
  order.pullOrder = true;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(PushSettingsToEngine(engine, "anna-FOLDER", Changed(), order, Quick()), LivePush::kPushed);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  ASSERT_EQ(engine.posted.size(), 1u);
  EXPECT_EQ(ParseOrDie(engine.posted[0])["folders"][0]["order"].asString(), "newestFirst");
}

TEST(LiveSettingsPushTest, NoEngineNoFieldsOrARefusalAreToldApart) {
  ScriptedEngine silent;
  LiveSettingsFields limits;
  limits.rateLimits = true;
  EXPECT_EQ(PushSettingsToEngine(silent, "anna-FOLDER", Changed(), limits, Quick()), LivePush::kNoEngine);
  ScriptedEngine engine;
  engine.answers = {Configuration(true)};
  EXPECT_EQ(PushSettingsToEngine(engine, "anna-FOLDER", Changed(), LiveSettingsFields{}, Quick()),
            LivePush::kNothingToPush);
  EXPECT_EQ(engine.gets, 0);
  engine.postOk = false;
  EXPECT_EQ(PushSettingsToEngine(engine, "anna-FOLDER", Changed(), limits, Quick()), LivePush::kRefused);
  EXPECT_EQ(PushSettingsToEngine(engine, "someone-else", Changed(), limits, Quick()), LivePush::kRefused);
}

}  // namespace
}  // namespace orlin
