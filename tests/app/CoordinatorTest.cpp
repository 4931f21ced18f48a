// The Coordinator's decisions; page messages go into a real suite in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <optional>
#include <tuple>

#include "app/Coordinator.h"
#include "app/WebUrlParser.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/app/RecordingServices.h"
#include "tests/support/RawSql.h"
#include "tests/support/TempDataDir.h"

namespace {

using apptest::RecordingServices;
using Events = std::vector<std::string>;

// The writes of one "stats" message with these values.
std::string stats(const std::string& voice, const std::string& streak, const std::string& best,
                  const std::string& username) {
  return "stats.voiceSeconds=" + voice + " stats.streakDays=" + streak + " stats.bestStreak=" + best +
         " stats.username=" + username + " stats.updatedAt=1700000123.25";
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
  EXPECT_EQ(
      post(R"({"type":"stats","voice_seconds":3600,"streak_days":4,"best_streak":9,"username":"a","x":1})"),
      stats("3600", "4", "9", "'a'"));
  // Without values (deeply nested junk does not stop it) every value gets its default.
  const std::string deep = std::string(50'000, '[') + std::string(50'000, ']');
  EXPECT_EQ(post(R"({"type":"stats","junk":)" + deep + R"(,"username":)" + deep + "}"),
            stats("0", "0", "0", "''"));
  // A flood before the queue's turn is one record, the last, and one reload.
  for (int i = 1; i <= 100; ++i)
    coordinator_->userContentController(R"({"type":"stats","voice_seconds":)" + std::to_string(i) + "}");
  EXPECT_EQ(takeLog(), "");
  EXPECT_EQ(recorder_.queued.size(), 1U);
  recorder_.runMainQueue();
  EXPECT_EQ(takeLog(), stats("100", "0", "0", "''"));
  // A Coordinator going away writes what it still holds; its queued turn then does nothing.
  coordinator_->userContentController(R"({"type":"stats","voice_seconds":7})");
  coordinator_.reset();
  EXPECT_EQ(takeLog(), stats("7", "0", "0", "''"));
  recorder_.runMainQueue();
  EXPECT_EQ(takeLog(), "");
  EXPECT_EQ(recorder_.log, (Events{"reload", "reload", "reload", "reload"}));
}

TEST_F(CoordinatorTest, NumbersAreKeptWhenWholeAndWithin64BitsStringsAsTheyAreElseTheDefault) {
  // -9223372036854775809 is, as a double, exactly -2^63; 4503599627370497 is not a double.
  const std::map<std::string, Events> numbers = {
      {"3600", {"3600", "3600.0", "3.6e3"}},
      {"-2", {"-2", "-2.0"}},
      {"4503599627370497", {"4503599627370497"}},
      {"9223372036854775807", {"9223372036854775807"}},
      {"-9223372036854775808", {"-9223372036854775808", "-9223372036854775809"}},
      {"0",
       {"-0.0", "9223372036854775808", "18446744073709551615", "1e20", "-1e300", "12.5", "3600.5",
        R"("3600")", "true", "null", "[3600]", R"({"n":3600})"}}};
  for (const auto& [stored, inputs] : numbers) {
    for (const std::string& n : inputs) {
      EXPECT_EQ(post(R"({"type":"stats","voice_seconds":)" + n + R"(,"streak_days":)" + n +
                     R"(,"best_streak":)" + n + "}"),
                stats(stored, stored, stored, "''"))
          << n;
    }
  }
  const std::map<std::string, Events> strings = {
      {"", {R"("")", "null", "42", "true", R"(["ana"])", R"({"name":"ana"})"}},
      {"  spaced  ", {R"("  spaced  ")"}},
      {"ünï 🎧 \"q\" \n ' ; DROP TABLE entries; --", {R"("ünï 🎧 \"q\" \n ' ; DROP TABLE entries; --")"}},
      {std::string("a\0b", 3), {R"("a\u0000b")"}},
      // Up to 64 KiB kept; one byte more is the default, like a field of the wrong type.
      {std::string(65'536, 'x'), {'"' + std::string(65'536, 'x') + '"'}},
      {"", {'"' + std::string(65'537, 'x') + '"'}}};
  for (const auto& [stored, inputs] : strings) {
    for (const std::string& json : inputs) {
      post(R"({"type":"stats","username":)" + json + "}");
      EXPECT_EQ(shared::SharedStore::open()->string(shared::keys::kUsername), stored) << json.substr(0, 60);
    }
  }
}

TEST_F(CoordinatorTest, VoiceMessagesWriteOrRemoveTheCredentialsScreenShareStartsThePickerTheRestIsIgnored) {
  const std::string standard = "'" + std::string(shared::kDefaultApiBase) + "'";
  const std::tuple<std::string, std::string, std::string> joins[] = {
      {R"("token":"t","api_base":"https://x.test/v1/api")", "'t'", "'https://x.test/v1/api'"},
      {R"("token":"t")", "'t'", standard},
      {R"("token":"t","api_base":"")", "'t'", "''"},
      {R"("token":"t","api_base":null)", "'t'", standard},
      {R"("token":"t","api_base":8080)", "'t'", standard},
      {R"("api_base":"a")", "''", "'a'"}};
  for (const auto& [fields, token, apiBase] : joins) {
    // Nothing else, screen.active included, is the app's to touch here.
    EXPECT_EQ(post(R"({"type":"voiceJoined","channel_id":"c","session_id":"s",)" + fields + "}"),
              "screen.accessToken=" + token +
                  " screen.channelId='c' screen.primarySessionId='s' screen.apiBase=" + apiBase +
                  " screen.updatedAt=1700000123.25")
        << fields;
  }
  EXPECT_EQ(
      post(R"({"type":"voiceLeft","token":"ignored"})"),
      "-screen.accessToken -screen.channelId -screen.primarySessionId -screen.apiBase -screen.updatedAt "
      "screen.active=0");
  // Again with nothing stored: the flag is stored as false, not removed.
  EXPECT_EQ(post(R"({"type":"voiceLeft"})"), "screen.active=0");
  EXPECT_EQ(post(R"({"type":"startScreenShare","quality":"high","token":"x"})"), "");
  EXPECT_EQ(recorder_.log, Events{"startBroadcast"});
  // A lone surrogate is no text: that message is dropped rather than stored mangled.
  // clang-format off
  const std::string ignored[] = {
      R"("stats")", R"(["stats"])", "42", "null", "", "not json", R"({"type":"stats")", "{}", R"({"type":5})",
      R"({"type":null})", R"({"type":["stats"]})", R"({"Type":"stats"})", R"({"type":"Stats"})",
      R"({"type":"voicejoined","token":"t"})", R"({"type":"VoiceLeft"})", R"({"type":"startscreenshare"})",
      R"({"type":"stats "})", R"({"type":"unknown"})", std::string(100'000, '[') + std::string(100'000, ']'),
      R"({"type":"stats","username":"\ud800"})"};
  // clang-format on
  for (const std::string& body : ignored) EXPECT_EQ(post(body), "") << body.substr(0, 60);
  EXPECT_EQ(recorder_.log, Events{"startBroadcast"});
}

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

// Per service domain, URLs tagged with what the app makes of them. S the service's: stays,
// a new window loads in place, microphone granted. F foreign: cancelled and handed out, a
// new window too. I page-internal: stays, a new window goes out. N no URL: allowed, no more.
const std::map<std::string, Events> kUrls = {
    {"sorn.chat",
     {// The bare domain, subdomains, any case, any port; https only.
      "S https://sorn.chat/sorn/dashboard", "S https://app.sorn.chat/sorn/dashboard?tab=1#top",
      "S https://a.b.sorn.chat/", "S https://SORN.CHAT/", "S HTTPS://App.Sorn.Chat:8443/x",
      "S https://user:pw@app.sorn.chat/", "S https://evil.example%2Esorn.chat/",
      // The service over plain http, or any other scheme, is no service page.
      "F http://sorn.chat:80/", "F http://app.sorn.chat/sorn/dashboard", "F ftp://sorn.chat/",
      "F custom-scheme://sorn.chat/x", "F ws://sorn.chat/", "F file://sorn.chat/etc/passwd",
      // Look-alikes: hosts ending alike; the domain elsewhere; an empty label; a trailing dot.
      "F https://evilsorn.chat/", "F https://EVILSORN.CHAT/", "F https://xsorn.chat:443/",
      "F https://sorn.chat./", "F https://sorn.chat.evil.example/", "F https://sorn.chat@evil.example/",
      "F https://evil.example/@sorn.chat", "F https://evil.example/?next=.sorn.chat",
      "F https://evil.example/#.sorn.chat", "F https://.sorn.chat/",
      // Other hosts, and none: mail, telephone, text, files, scripts, text that is no URL.
      "F https://chat/", "F https://127.0.0.1/", "F https://[::1]:8080/", "F https://example.org/page",
      "F mailto:help@sorn.chat", "F tel:+15550100", "F sms:+15550100", "F file:///etc/passwd",
      "F javascript:alert(1)", "F sorn.chat", "I about:blank", "I about:srcdoc", "I data:text/html,<p>hi</p>",
      "I blob:https://app.sorn.chat/5c1d0a52-6d3e-4ad7-9a8e-0b6f4a1f2f3c", "N "}},
    // The loopback service of the engine tests; an empty domain has no hosts at all.
    // Plain http stays only on a loopback service host.
    {"127.0.0.1",
     {"S http://127.0.0.1:41234/sorn/dashboard", "S https://127.0.0.1/", "F ftp://127.0.0.1/",
      "F http://localhost:41234/", "F http://127.0.0.10/"}},
    {"localhost",
     {"S http://localhost:8765/sorn/dashboard", "S http://LOCALHOST:8765/", "F http://notlocalhost:8765/"}},
    {"", {"F https://sorn.chat/", "F https://x./", "F http://127.0.0.1/"}}};

// The answers a decision handler gave, in the recorder's log.
auto policyLog(RecordingServices& recorder) {
  return [&recorder](app::NavigationActionPolicy policy) {
    recorder.log.emplace_back(policy == app::NavigationActionPolicy::allow ? "allow" : "cancel");
  };
}

TEST(CoordinatorPolicy, EachUrlIsAnsweredOnceForNavigationNewWindowAndMicrophone) {
  for (const auto& [domain, urls] : kUrls) {
    for (const std::string& tagged : urls) {
      const std::string text = tagged.substr(2);
      RecordingServices recorder;
      app::Coordinator coordinator(recorder.services(), domain);
      const auto url = app::parseWebUrl(text.c_str());
      coordinator.decidePolicyFor(url, true, policyLog(recorder));
      coordinator.createWebViewWith(url, true,
                                    [&](const std::string& load) { recorder.log.push_back("load " + load); });
      coordinator.requestMediaCapturePermissionFor(url, [&](app::PermissionDecision decision) {
        recorder.log.emplace_back(decision == app::PermissionDecision::grant ? "grant" : "deny");
      });
      const std::map<char, Events> expected = {{'S', {"allow", "load " + text, "grant"}},
                                               {'F', {"cancel", "open " + text, "open " + text, "deny"}},
                                               {'I', {"allow", "open " + text, "deny"}},
                                               {'N', {"allow", "deny"}}};
      EXPECT_EQ(recorder.log, expected.at(tagged[0])) << text << " for " << domain;
    }
  }
}

TEST(CoordinatorPolicy, UnaskedHandOutsArePacedToOneASecondWhileAUsersGesturesAllGoOut) {
  RecordingServices recorder;
  app::Coordinator coordinator(recorder.services(), "sorn.chat");
  auto navigate = [&](const char* text, bool gesture) {
    coordinator.decidePolicyFor(app::parseWebUrl(text), gesture, policyLog(recorder));
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
