// Page messages through the Coordinator into a real suite in a temporary data folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/Coordinator.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/app/RecordingServices.h"
#include "tests/app/StoreWriteLog.h"
#include "tests/support/TempDataDir.h"

namespace {

namespace keys = shared::keys;
using apptest::RecordingServices;
using Events = std::vector<std::string>;

class CoordinatorMessagesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shared::SharedStore::open().has_value());
    writes_.emplace(dataDir_.suiteFile(shared::kSuiteName));
  }

  void post(const std::string& json) { coordinator_.userContentController(json); }
  static shared::SharedStore store() { return *shared::SharedStore::open(); }
  Events takeWrites() { return writes_->take(); }

  testsupport::TempDataDir dataDir_;
  RecordingServices recorder_;
  app::Coordinator coordinator_{recorder_.services()};
  std::optional<apptest::StoreWriteLog> writes_;
};

const Events kStatsWrites = {"set stats.voiceSeconds", "set stats.streakDays", "set stats.bestStreak",
                             "set stats.username", "set stats.updatedAt"};
const Events kCredentialWrites = {"set screen.accessToken", "set screen.channelId", "set screen.primarySessionId",
                                  "set screen.apiBase", "set screen.updatedAt"};
const Events kCredentialRemovals = {"remove screen.accessToken", "remove screen.channelId",
                                    "remove screen.primarySessionId", "remove screen.apiBase",
                                    "remove screen.updatedAt", "set screen.active"};

TEST_F(CoordinatorMessagesTest, StatsWritesAllFiveKeysInOrderThenRequestsOneReload) {
  post(R"({"type":"stats","voice_seconds":3600,"streak_days":4,"best_streak":9,"username":"ana","extra":[1,2]})");
  EXPECT_EQ(takeWrites(), kStatsWrites);
  EXPECT_EQ(recorder_.log, Events{"reload"});
  const auto s = store();
  EXPECT_EQ(s.integer(keys::kVoiceSeconds), 3600);
  EXPECT_EQ(s.integer(keys::kStreakDays), 4);
  EXPECT_EQ(s.integer(keys::kBestStreak), 9);
  EXPECT_EQ(s.string(keys::kUsername), "ana");
  EXPECT_EQ(s.doubleValue(keys::kStatsUpdatedAt), RecordingServices::kNow);

  // A repeat is handled again; a bare "stats" overwrites every value with its default.
  post(R"({"type":"stats"})");
  EXPECT_EQ(takeWrites(), kStatsWrites);
  EXPECT_EQ(recorder_.log, (Events{"reload", "reload"}));
  EXPECT_EQ(s.integer(keys::kVoiceSeconds), 0);
  EXPECT_EQ(s.integer(keys::kStreakDays), 0);
  EXPECT_EQ(s.integer(keys::kBestStreak), 0);
  EXPECT_EQ(s.string(keys::kUsername), "");
  EXPECT_EQ(s.doubleValue(keys::kStatsUpdatedAt), RecordingServices::kNow);
}

TEST_F(CoordinatorMessagesTest, IntegerFieldsTakeWholeNumbersThatFit64BitsAndZeroForAnythingElse) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  struct Case {
    const char* value;  // JSON text of "voice_seconds"
    std::int64_t stored;
  };
  const Case cases[] = {
      {"3600", 3600},
      {"3600.0", 3600},
      {"3.6e3", 3600},
      {"-2", -2},
      {"-0.0", 0},
      {"4503599627370497", 4503599627370497},  // beyond a double's exact range, still exact
      {"9223372036854775807", kMax},
      {"-9223372036854775808", kMin},
      // The page's numbers are doubles: this text is the double -2^63, which fits.
      {"-9223372036854775809", kMin},
      {"9223372036854775808", 0},
      {"18446744073709551615", 0},
      {"1e20", 0},
      {"-1e300", 0},
      {"12.5", 0},
      {"3600.5", 0},
      {"\"3600\"", 0},
      {"true", 0},
      {"false", 0},
      {"null", 0},
      {"[3600]", 0},
      {"{\"n\":3600}", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    post(R"({"type":"stats","voice_seconds":7})");
    post(std::string(R"({"type":"stats","voice_seconds":)") + c.value + "}");
    EXPECT_EQ(store().integer(keys::kVoiceSeconds), c.stored);
  }
  post(R"({"type":"stats","streak_days":-2,"best_streak":21.0})");
  EXPECT_EQ(store().integer(keys::kStreakDays), -2);
  EXPECT_EQ(store().integer(keys::kBestStreak), 21);
}

TEST_F(CoordinatorMessagesTest, StringFieldsAreStoredUnchangedAndAnythingElseGivesTheEmptyString) {
  struct Case {
    const char* value;  // JSON text of "username"
    std::string stored;
  };
  const Case cases[] = {
      {R"("ana")", "ana"},
      {R"("")", ""},
      {R"("  spaced  ")", "  spaced  "},
      {R"("ünï 🎧 \"q\" \n ' ; DROP TABLE entries; --")", "ünï 🎧 \"q\" \n ' ; DROP TABLE entries; --"},
      {R"("a\u0000b")", std::string("a\0b", 3)},
      {"null", ""},
      {"42", ""},
      {"true", ""},
      {R"(["ana"])", ""},
      {R"({"name":"ana"})", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    post(R"({"type":"stats","username":"before"})");
    post(std::string(R"({"type":"stats","username":)") + c.value + "}");
    EXPECT_EQ(store().string(keys::kUsername), c.stored);
  }
}

TEST_F(CoordinatorMessagesTest, VoiceJoinedWritesTheCredentialsInOrderAndDefaultsOnlyAMissingOrNonStringApiBase) {
  store().setBool(keys::kScreenActive, true);
  takeWrites();
  struct Case {
    const char* message;
    const char* token;
    const char* apiBase;
  };
  const Case cases[] = {
      {R"({"type":"voiceJoined","token":"t","channel_id":"c","session_id":"s","api_base":"https://x.test/v1/api"})",
       "t", "https://x.test/v1/api"},
      {R"({"type":"voiceJoined","token":"t","channel_id":"c","session_id":"s"})", "t", shared::kDefaultApiBase},
      {R"({"type":"voiceJoined","token":"t","channel_id":"c","session_id":"s","api_base":""})", "t", ""},
      {R"({"type":"voiceJoined","token":"t","channel_id":"c","session_id":"s","api_base":null})", "t",
       shared::kDefaultApiBase},
      {R"({"type":"voiceJoined","token":"t","channel_id":"c","session_id":"s","api_base":8080})", "t",
       shared::kDefaultApiBase},
      {R"({"type":"voiceJoined","channel_id":"c","session_id":"s","api_base":"a"})", "", "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    post(c.message);
    EXPECT_EQ(takeWrites(), kCredentialWrites);
    const auto s = store();
    EXPECT_EQ(s.string(keys::kAccessToken), c.token);
    EXPECT_EQ(s.string(keys::kChannelId), "c");
    EXPECT_EQ(s.string(keys::kPrimarySessionId), "s");
    EXPECT_EQ(s.string(keys::kApiBase), c.apiBase);
    EXPECT_EQ(s.doubleValue(keys::kCredentialsUpdatedAt), RecordingServices::kNow);
    EXPECT_TRUE(s.boolValue(keys::kScreenActive));  // not the app's to touch here
  }
  EXPECT_TRUE(recorder_.log.empty());  // no widget reload, no picker
}

TEST_F(CoordinatorMessagesTest, VoiceLeftRemovesTheCredentialsInOrderThenStoresFalseForScreenActive) {
  post(R"({"type":"voiceJoined","token":"t","channel_id":"c","session_id":"s"})");
  store().setBool(keys::kScreenActive, true);
  takeWrites();

  post(R"({"type":"voiceLeft","token":"ignored"})");
  EXPECT_EQ(takeWrites(), kCredentialRemovals);
  const auto s = store();
  for (const char* key : {keys::kAccessToken, keys::kChannelId, keys::kPrimarySessionId, keys::kApiBase}) {
    EXPECT_EQ(s.string(key), std::nullopt) << key;
  }
  EXPECT_EQ(s.doubleValue(keys::kCredentialsUpdatedAt), 0.0);
  EXPECT_FALSE(s.boolValue(keys::kScreenActive));
  EXPECT_TRUE(s.string(keys::kScreenActive) == std::nullopt);  // a boolean, not text

  // Again with nothing stored: nothing to remove, and the flag is set, not removed.
  post(R"({"type":"voiceLeft"})");
  EXPECT_EQ(takeWrites(), Events{"set screen.active"});
  EXPECT_FALSE(store().boolValue(keys::kScreenActive));
  EXPECT_TRUE(recorder_.log.empty());
}

TEST_F(CoordinatorMessagesTest, StartScreenShareStartsThePickerAndLeavesTheStoreAlone) {
  post(R"({"type":"startScreenShare","quality":"high","token":"x"})");
  post(R"({"type":"startScreenShare"})");
  EXPECT_EQ(recorder_.log, (Events{"startBroadcast", "startBroadcast"}));
  EXPECT_TRUE(takeWrites().empty());
}

TEST_F(CoordinatorMessagesTest, BodiesThatAreNotAKnownKindAreIgnoredWhole) {
  std::string deepArray(100'000, '[');
  deepArray += std::string(100'000, ']');
  const std::string ignored[] = {
      R"("stats")",
      R"(["stats"])",
      "42",
      "null",
      "",
      "not json",
      R"({"type":"stats")",  // cut off
      "{}",
      R"({"type":5})",
      R"({"type":null})",
      R"({"type":["stats"]})",
      R"({"Type":"stats"})",
      R"({"type":"Stats"})",
      R"({"type":"STATS"})",
      R"({"type":"voicejoined","token":"t"})",
      R"({"type":"VoiceLeft"})",
      R"({"type":"startscreenshare"})",
      R"({"type":"stats "})",
      R"({"type":"unknown"})",
      deepArray,
      // A lone surrogate is not text; the message as a whole is dropped rather than
      // stored with a mangled name.
      R"({"type":"stats","username":"\ud800"})",
  };
  for (const std::string& body : ignored) {
    SCOPED_TRACE(body.substr(0, 60));
    post(body);
    EXPECT_TRUE(takeWrites().empty());
    EXPECT_TRUE(recorder_.log.empty());
  }
}

TEST_F(CoordinatorMessagesTest, DeeplyNestedFieldsDoNotStopAMessageOfAKnownKind) {
  std::string deep(50'000, '[');
  deep += std::string(50'000, ']');
  post(R"({"type":"stats","voice_seconds":60,"junk":)" + deep + R"(,"username":)" + deep + "}");
  EXPECT_EQ(takeWrites(), kStatsWrites);
  EXPECT_EQ(store().integer(keys::kVoiceSeconds), 60);
  EXPECT_EQ(store().string(keys::kUsername), "");
  EXPECT_EQ(recorder_.log, Events{"reload"});
}

TEST(CoordinatorWithoutStore, StatsStillReloadsWhileTheOtherKindsDoNothingAtAll) {
  testsupport::TempDataDir dataDir;
  // A suite folder others can read is refused, so the suite cannot be opened.
  const auto folder = dataDir.suiteFolder(shared::kSuiteName);
  std::filesystem::create_directories(folder);
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  ASSERT_FALSE(shared::SharedStore::open().has_value());

  RecordingServices recorder;
  const app::Coordinator coordinator(recorder.services());
  coordinator.userContentController(R"({"type":"stats","voice_seconds":5})");
  coordinator.userContentController(R"({"type":"voiceJoined","token":"t"})");
  coordinator.userContentController(R"({"type":"voiceLeft"})");
  coordinator.userContentController(R"({"type":"startScreenShare"})");
  EXPECT_EQ(recorder.log, (Events{"reload", "startBroadcast"}));
  EXPECT_FALSE(std::filesystem::exists(dataDir.suiteFile(shared::kSuiteName)));
}

}  // namespace
