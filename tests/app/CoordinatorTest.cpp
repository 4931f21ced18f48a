// The Coordinator's decisions; page messages go into a real suite in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "app/Coordinator.h"
#include "app/WebUrlParser.h"
#include "shared/SharedStore.h"
#include "tests/app/RecordingServices.h"
#include "tests/support/RawSql.h"
#include "tests/support/TempDataDir.h"

namespace {

using apptest::RecordingServices;
using Events = std::vector<std::string>;

// The writes of one "stats" message with these voice seconds and no other values.
std::string stats(const std::string& voice) {
  return "stats.voiceSeconds=" + voice +
         " stats.streakDays=0 stats.bestStreak=0 stats.username='' stats.updatedAt=1700000123.25";
}

class CoordinatorTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shared::SharedStore::open().has_value());
    sql(R"(CREATE TABLE log (event TEXT);
      CREATE TRIGGER i AFTER INSERT ON entries BEGIN INSERT INTO log VALUES (new.key || '=' || quote(new.value)); END;
      CREATE TRIGGER u AFTER UPDATE ON entries BEGIN INSERT INTO log VALUES (new.key || '=' || quote(new.value)); END;
      CREATE TRIGGER d AFTER DELETE ON entries BEGIN INSERT INTO log VALUES ('-' || old.key); END;)");
  }
  std::string sql(const std::string& text) {
    return testsupport::rawSql(dataDir_.suiteFile(shared::kSuiteName), text);
  }
  // Each write to the suite since the last call, in order: "key=<SQL literal>", or "-key" removed.
  std::string takeLog() {
    return sql(
        "SELECT coalesce(group_concat(event, ' '), '') FROM (SELECT event FROM log ORDER BY rowid);"
        "DELETE FROM log;");
  }
  // Posts the message and gives the main queue its turn; what the store saw.
  std::string post(const std::string& json) {
    coordinator_->userContentController(json);
    recorder_.runMainQueue();
    return takeLog();
  }

  testsupport::TempDataDir dataDir_;
  RecordingServices recorder_;
  std::optional<app::Coordinator> coordinator_{std::in_place, recorder_.services()};
};

TEST_F(CoordinatorTest, StatsAreWrittenOnTheQueuesTurnTheNewestOnlyEachWithOneReload) {
  // Without values (deeply nested junk does not stop it) every value gets its default.
  const std::string deep = std::string(50'000, '[') + std::string(50'000, ']');
  EXPECT_EQ(post(R"({"type":"stats","junk":)" + deep + R"(,"username":)" + deep + "}"), stats("0"));
  // A flood before the queue's turn is one record, the last, and one reload.
  for (int i = 1; i <= 100; ++i)
    coordinator_->userContentController(R"({"type":"stats","voice_seconds":)" + std::to_string(i) + "}");
  EXPECT_EQ(takeLog(), "");
  EXPECT_EQ(recorder_.queued.size(), 1U);
  recorder_.runMainQueue();
  EXPECT_EQ(takeLog(), stats("100"));
  // A Coordinator going away writes what it still holds; its queued turn then does nothing.
  coordinator_->userContentController(R"({"type":"stats","voice_seconds":7})");
  coordinator_.reset();
  EXPECT_EQ(takeLog(), stats("7"));
  recorder_.runMainQueue();
  EXPECT_EQ(takeLog(), "");
  EXPECT_EQ(recorder_.log, (Events{"reload", "reload", "reload"}));
}

// Which bodies are ignored, the value rules of each field and what "voiceLeft" removes:
// fuzz/corpus/page_message.

TEST(CoordinatorWithoutStore, StatsStillReloadsWhileTheOtherKindsDoNothingAtAll) {
  const testsupport::TempDataDir dataDir;
  // A suite folder others can read is refused, so the suite cannot be opened.
  std::filesystem::create_directories(dataDir.suiteFolder(shared::kSuiteName));
  ASSERT_EQ(chmod(dataDir.suiteFolder(shared::kSuiteName).c_str(), 0755), 0);
  RecordingServices recorder;
  app::Coordinator coordinator(recorder.services());
  for (const char* type : {"stats", "voiceJoined", "voiceLeft", "startScreenShare"})
    coordinator.userContentController(R"({"token":"t","type":")" + std::string(type) + R"("})");
  recorder.runMainQueue();
  EXPECT_EQ(recorder.log, (Events{"startBroadcast", "reload"}));
  EXPECT_FALSE(std::filesystem::exists(dataDir.suiteFile(shared::kSuiteName)));
}

// Which URLs stay, load in place, get the microphone or go out, for the production and
// loopback service domains: fuzz/corpus/web_url_decision.
TEST(CoordinatorPolicy, UnaskedHandOutsArePacedToOneASecondWhileAUsersGesturesAllGoOut) {
  RecordingServices recorder;
  app::Coordinator coordinator(recorder.services(), "sorn.chat");
  auto navigate = [&](const char* text, bool gesture) {
    coordinator.decidePolicyFor(app::parseWebUrl(text), gesture, [&](app::NavigationActionPolicy policy) {
      recorder.log.emplace_back(policy == app::NavigationActionPolicy::allow ? "allow" : "cancel");
    });
  };
  auto newWindow = [&](const char* text, bool gesture) {
    coordinator.createWebViewWith(app::parseWebUrl(text), gesture, [](const std::string&) {});
  };
  for (int i = 0; i < 500; ++i) navigate("https://foreign.example/frame", false);
  newWindow("https://foreign.example/popup", false);
  navigate("https://foreign.example/clicked", true);
  newWindow("https://foreign.example/tab", true);
  navigate("https://sorn.chat/", false);  // staying needs no pacing
  recorder.steadyNow += std::chrono::milliseconds(999);
  newWindow("https://foreign.example/early", false);
  recorder.steadyNow += std::chrono::milliseconds(1);
  newWindow("https://foreign.example/later", false);
  std::erase(recorder.log, "cancel");
  EXPECT_EQ(recorder.log,
            (Events{"open https://foreign.example/frame", "open https://foreign.example/clicked",
                    "open https://foreign.example/tab", "allow", "open https://foreign.example/later"}));
}

}  // namespace
