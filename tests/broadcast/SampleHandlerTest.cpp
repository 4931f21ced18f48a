#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <regex>

#include "broadcast/SampleHandler.h"
#include "broadcast/ScreenFramePipe.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/http/CurlSession.h"
#include "platform/suite/Suite.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/broadcast/FakeSample.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDataDir.h"

namespace broadcast {
namespace {

using namespace std::chrono_literals;
using platform::screencast::BroadcastError;
using platform::screencast::SampleBufferType;
using testsupport::HttpReply;

constexpr auto kPatience = 20s;

bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (; !condition(); std::this_thread::sleep_for(2ms))
    if (std::chrono::steady_clock::now() > deadline) return false;
  return true;
}

bool poolIdle() {
  return platform::dispatch::WorkerPool::shared().waitUntilIdle(std::chrono::steady_clock::now() + kPatience);
}

// The broadcast service as the handler sees it: records the errors it is handed.
struct RecordingService final : platform::screencast::BroadcastService {
  void finishBroadcastWithError(const BroadcastError& error) override {
    std::lock_guard lock(mutex);
    errors.push_back(error);
  }
  std::size_t count() {
    std::lock_guard lock(mutex);
    return errors.size();
  }
  std::mutex mutex;
  std::vector<BroadcastError> errors;
};

// 0 absent, 1 false, 2 true: an int, so the server's thread can hand it over atomically.
int storedScreenActive() {
  auto suite = platform::suite::Suite::open(shared::kSuiteName);
  auto active = suite ? suite->boolValue(shared::keys::kScreenActive) : std::nullopt;
  return active ? 1 + int{*active} : 0;
}

HttpReply json(int status, const std::string& body) {
  return {status, body, "application/json", {{"Connection", "close"}}};  // nothing kept alive holds up stop()
}

class SampleHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::http::installSharedTransport(platform::http::CurlSession::shared());
    handler->attachService(service);
  }
  void TearDown() override {
    released = true;
    EXPECT_TRUE(poolIdle());
    ScreenFramePipe::shared().stop();
  }

  // Opens are answered with `open`, closes with 200; a held answer waits for `released`.
  void answer(const HttpReply& open, bool holdOpen = false, bool holdClose = false) {
    server.setHandler([=, this](const testsupport::RecordedRequest& request) {
      const bool isClose = request.target.ends_with("/close");
      if (!isClose) activeAtOpen = storedScreenActive();
      if (isClose ? holdClose : holdOpen) eventually([this] { return released.load(); });
      return isClose ? json(200, "{}") : open;
    });
  }

  static void storeCredentials(const std::string& apiBase) {
    auto store = shared::SharedStore::open();
    for (auto [key, value] : {std::pair{shared::keys::kAccessToken, "tok-1"},
                              {shared::keys::kChannelId, "lounge"},
                              {shared::keys::kPrimarySessionId, "voice-1"},
                              {shared::keys::kApiBase, apiBase.c_str()}})
      store->setString(key, value);
  }

  // Offers a video frame and tells whether the pipe counted it, i.e. whether it runs.
  bool pipeTakesVideo(SampleBufferType type = SampleBufferType::video) const {
    auto& pipe = ScreenFramePipe::shared();
    const auto before = pipe.counters();
    handler->processSampleBuffer(test::makeFakeSample(), type);
    const auto after = pipe.counters();
    return after.framesReceived + after.framesDropped > before.framesReceived + before.framesDropped;
  }

  testsupport::TempDataDir dataDir;
  std::shared_ptr<RecordingService> service = std::make_shared<RecordingService>();
  std::shared_ptr<SampleHandler> handler = std::make_shared<SampleHandler>();
  std::atomic<bool> released{false};
  std::atomic<int> activeAtOpen{-1};
  // Declared last: its threads stop before what its handler uses goes away.
  testsupport::LoopbackHttpServer server{nullptr};
};

TEST_F(SampleHandlerTest, RefusesWithoutCredentialsAndMarksTheBroadcastInactive) {
  // Left true by a broadcast that was killed: the refused start puts it right.
  shared::SharedStore::open()->setBool(shared::keys::kScreenActive, true);
  handler->broadcastStartedWithSetupInfo(std::nullopt);
  ASSERT_EQ(service->count(), 1U);
  EXPECT_EQ(service->errors[0].domain, "com.tarnwell.sorn.broadcast");
  EXPECT_EQ(service->errors[0].code, 1);
  EXPECT_EQ(service->errors[0].localizedDescription, "Join a Sorn voice channel before sharing your screen.");
  EXPECT_EQ(storedScreenActive(), 1);
  EXPECT_TRUE(poolIdle());
  EXPECT_FALSE(pipeTakesVideo());
  handler->broadcastFinished();
  EXPECT_EQ(storedScreenActive(), 1);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(SampleHandlerTest, OpensStreamsVideoOnlyAndOnFinishWaitsForACloseThatNeverAnswersForTheLimitOnly) {
  answer(json(200, R"({"screenSessionId":"scr-7"})"), false, true);
  storeCredentials(server.url("/v1/api"));
  handler->broadcastStartedWithSetupInfo(platform::screencast::SetupInfo{{"ignored", "value"}});
  ASSERT_TRUE(eventually([this] { return pipeTakesVideo(); }));
  EXPECT_EQ(activeAtOpen, 2);  // marked before the open left
  ASSERT_EQ(server.requests().size(), 1U);
  EXPECT_EQ(server.requests()[0].target, "/v1/api/voice/sfu/lounge/screen-session");
  EXPECT_EQ(nlohmann::json::parse(server.requests()[0].body), (nlohmann::json{{"sessionId", "voice-1"}}));
  // Audio of either kind, or of no known kind, never reaches the pipe.
  for (int type : {2, 3, 0, 7}) EXPECT_FALSE(pipeTakesVideo(SampleBufferType{type})) << type;

  const auto began = std::chrono::steady_clock::now();
  handler->broadcastFinished();
  const auto waited = std::chrono::steady_clock::now() - began;
  EXPECT_GE(waited, 1900ms);  // a loose bound around the 2.0 s limit; speed is not measured here
  EXPECT_LT(waited, 10s);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(requests[1].target, "/v1/api/voice/sfu/lounge/screen-session/close");
  auto body = nlohmann::json::parse(requests[1].body);
  EXPECT_EQ(body["sessionId"], "scr-7");
  EXPECT_TRUE(std::regex_match(body.value("trackName", ""), std::regex("screen-ios-[0-9]+")));
  EXPECT_EQ(storedScreenActive(), 1);
  EXPECT_FALSE(pipeTakesVideo());
  EXPECT_EQ(service->count(), 0U);
}

TEST_F(SampleHandlerTest, ASessionThatOpensAfterTheBroadcastEndedIsClosedAtOnce) {
  for (bool dropHandler : {false, true}) {
    SCOPED_TRACE(dropHandler ? "handler dropped" : "finished");
    testsupport::TempDataDir caseDir;
    released = false;
    handler = std::make_shared<SampleHandler>();
    const std::size_t sentBefore = server.requests().size();
    answer(json(200, R"({"screenSessionId":"scr-late"})"), true);
    storeCredentials(server.url("/v1/api"));
    handler->broadcastStartedWithSetupInfo(std::nullopt);
    ASSERT_TRUE(eventually([&] { return server.requests().size() == sentBefore + 1; }));
    if (dropHandler) {
      std::weak_ptr<SampleHandler> weak = handler;
      handler = std::make_shared<SampleHandler>();
      EXPECT_TRUE(weak.expired());  // the open task holds it only weakly
    } else {
      handler->broadcastFinished();  // returns while the open is still out, sending nothing
      EXPECT_EQ(server.requests().size(), sentBefore + 1);
      EXPECT_EQ(storedScreenActive(), 1);
    }
    released = true;
    ASSERT_TRUE(poolIdle());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), sentBefore + 2);
    EXPECT_EQ(requests.back().target, "/v1/api/voice/sfu/lounge/screen-session/close");
    EXPECT_EQ(nlohmann::json::parse(requests.back().body)["sessionId"], "scr-late");
    EXPECT_FALSE(pipeTakesVideo());
  }
}

TEST_F(SampleHandlerTest, AFailedOpenEndsTheBroadcastWithItsDescriptionAndNoClose) {
  answer(json(403, R"({"message":"Channel is full"})"));
  storeCredentials(server.url("/v1/api"));
  handler->broadcastStartedWithSetupInfo(std::nullopt);
  ASSERT_TRUE(eventually([&] { return service->count() > 0; }));
  EXPECT_EQ(service->errors[0].localizedDescription, "Channel is full");
  EXPECT_EQ(storedScreenActive(), 2);
  handler->broadcastFinished();
  ASSERT_TRUE(poolIdle());
  EXPECT_EQ(server.requests().size(), 1U);
  EXPECT_EQ(storedScreenActive(), 1);
  EXPECT_EQ(service->count(), 1U);
}

}  // namespace
}  // namespace broadcast
