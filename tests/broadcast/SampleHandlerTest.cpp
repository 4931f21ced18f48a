// The frame pipe, and the handler in process against a loopback server; what the whole
// program does (errors it ends with, sessions closed on stop) is BroadcastExtensionTest's,
// the requests' form RestClientTest's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "broadcast/SampleHandler.h"
#include "broadcast/ScreenFramePipe.h"
#include "broadcast/TrackName.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/http/CurlSession.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/Within.h"

namespace broadcast {
namespace {

using namespace std::chrono_literals;
using platform::screencast::SampleBufferType;
namespace keys = shared::keys;

struct MockService : platform::screencast::BroadcastService {
  MOCK_METHOD(void, finishBroadcastWithError, (const platform::screencast::BroadcastError&), (override));
};

bool screenActive() {
  return shared::SharedStore::open()->read({keys::kScreenActive}).boolValue(keys::kScreenActive);
}

bool poolIdle() {
  return platform::dispatch::WorkerPool::shared().waitUntilIdle(std::chrono::steady_clock::now() + 20s);
}

// Offers a sample of that type and tells whether the pipe counted it, i.e. whether it runs.
bool pipeTakes(SampleHandler& handler, SampleBufferType type = SampleBufferType::video) {
  auto& pipe = ScreenFramePipe::shared();
  const auto before = pipe.counters();
  handler.processSampleBuffer({}, type);
  const auto after = pipe.counters();
  return after.framesReceived + after.framesDropped > before.framesReceived + before.framesDropped;
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

  // Stores credentials for the server, which answers opens with `openReply` and closes
  // with {}; a held answer waits for `released`. Nothing is kept alive to hold up stop().
  void serve(const std::string& openReply, bool holdOpen, bool holdClose) {
    server.setHandler([=, this](const testsupport::RecordedRequest& request) {
      const bool isClose = request.target.ends_with("/close");
      if (!isClose) activeAtOpen = screenActive();
      if (isClose ? holdClose : holdOpen) testsupport::within(60s, [this] { return released.load(); });
      return testsupport::HttpReply{
          200, isClose ? "{}" : openReply, "application/json", {{"Connection", "close"}}};
    });
    shared::SharedStore::open()->write(shared::StoreChanges()
                                           .setString(keys::kAccessToken, "tok-1")
                                           .setString(keys::kChannelId, "lounge")
                                           .setString(keys::kPrimarySessionId, "voice-1")
                                           .setString(keys::kApiBase, server.url("/v1/api")));
  }

  testsupport::TempDataDir dataDir;
  std::shared_ptr<MockService> service = std::make_shared<MockService>();
  std::shared_ptr<SampleHandler> handler = std::make_shared<SampleHandler>();
  std::atomic<bool> released{false};
  std::atomic<int> activeAtOpen{-1};
  // Declared last: its threads stop before what its handler uses goes away.
  testsupport::LoopbackHttpServer server{nullptr};
};

// A refusal (what it says is BroadcastExtensionTest's) marks the broadcast inactive
// itself, whatever a killed one left stored. With credentials, the broadcast is marked
// active before the open leaves; video reaches the pipe, other samples never; the finish
// marks it inactive, stops the pipe and closes the session it opened, waiting for the
// answer only so long (here it never comes).
TEST_F(SampleHandlerTest, RefusesWithoutCredentialsStreamsVideoOnlyAndFinishesThoughTheCloseNeverAnswers) {
  EXPECT_CALL(*service, finishBroadcastWithError).Times(1);  // the refusal's alone
  shared::SharedStore::open()->setBool(keys::kScreenActive, true);
  handler->broadcastStartedWithSetupInfo(std::nullopt);
  EXPECT_FALSE(screenActive());
  EXPECT_FALSE(pipeTakes(*handler));
  serve(R"({"screenSessionId":"scr-7"})", false, true);
  handler->broadcastStartedWithSetupInfo(platform::screencast::SetupInfo{{"ignored", "value"}});
  ASSERT_TRUE(testsupport::within(20s, [this] { return pipeTakes(*handler); }));
  EXPECT_EQ(activeAtOpen, 1);
  for (int type : {2, 3, 0, 7}) EXPECT_FALSE(pipeTakes(*handler, SampleBufferType{type})) << type;
  handler->broadcastFinished();
  EXPECT_FALSE(screenActive());
  EXPECT_FALSE(pipeTakes(*handler));
  ASSERT_EQ(server.requests().size(), 2U);
  const auto close = nlohmann::json::parse(server.requests()[1].body);
  EXPECT_TRUE(close["sessionId"] == "scr-7" && close.contains("trackName")) << close;
}

// A session that opens only after the handler went (so the broadcast ended) is closed at once.
TEST_F(SampleHandlerTest, ASessionThatOpensAfterTheHandlerWentIsClosedAtOnce) {
  serve(R"({"screenSessionId":"scr-late"})", true, false);
  handler->broadcastStartedWithSetupInfo(std::nullopt);
  ASSERT_TRUE(testsupport::within(20s, [this] { return server.requests().size() == 1; }));
  const std::weak_ptr<SampleHandler> weak = std::exchange(handler, std::make_shared<SampleHandler>());
  EXPECT_TRUE(weak.expired());  // the open task holds it only weakly
  released = true;
  ASSERT_TRUE(poolIdle());
  ASSERT_EQ(server.requests().size(), 2U);
  EXPECT_EQ(nlohmann::json::parse(server.requests()[1].body)["sessionId"], "scr-late");
  EXPECT_FALSE(pipeTakes(*handler));
}

TEST(TrackNameTest, IsThePrefixAndTheLowThirtyTwoBitsOfFreshRandomBits) {
  EXPECT_EQ(trackNameFor(0x1234'5678'FFFF'FFFFU), "screen-ios-4294967295");
  std::set<std::string> seen;
  for (int i = 0; i < 32; ++i) seen.insert(makeTrackName());
  EXPECT_GT(seen.size(), 30U);  // 32 draws of 32 random bits: a repeat is all but impossible
}

using platform::screencast::SampleBuffer;

// Samples are counted objects and the test keeps a reference to every sample it submits,
// so a reference beyond its own is the pipe's: `held` counts the samples the pipe holds,
// `heldTwoAtOnce` how often it took one while holding another. The image lookup is
// slow, so frames pile up.
std::atomic<int> held{0}, heldTwoAtOnce{0}, imageLookups{0};
const platform::screencast::SampleBufferKind kCountedSample{
    [](void* sample) {
      if (static_cast<std::atomic<int>*>(sample)->fetch_add(1) == 1 && ++held > 1) ++heldTwoAtOnce;
    },
    [](void* sample) {
      const int left = static_cast<std::atomic<int>*>(sample)->fetch_sub(1) - 1;
      if (left == 1) --held;
      if (left == 0) delete static_cast<std::atomic<int>*>(sample);
    },
    [](void* sample) -> void* {
      ++imageLookups;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return sample;
    },
    [](void*) {},
};
SampleBuffer sample() { return SampleBuffer::adopt(new std::atomic<int>(1), kCountedSample); }
void start(ScreenFramePipe& pipe) {
  pipe.start({"https://api.example.test/v1/api", "t", "lounge"}, "s", "n");
}

// Each row plays a script on a fresh pipe: S start, T stop, F submit a new frame, H hold
// the queue with a latch (work queued meanwhile waits), R release it. A start or stop
// outside a hold is waited for, so that the frames after it see it. Then it tells the
// frames the pipe held at the release, its counters, the image lookups, and whether one
// more frame afterwards is taken.
TEST(ScreenFramePipeTest, OrderingOfStartSubmitAndStop) {
  const std::pair<std::string, std::string> rows[] = {
      // Frames before the first start are neither held nor counted.
      {"FF", "held -1, received 0, dropped 0, looked up 0, next taken 0"},
      // A frame arriving while one is in flight is dropped.
      {"SHFFR", "held 1, received 1, dropped 1, looked up 1, next taken 1"},
      // After stop frames are ignored and the counters kept.
      {"SHFFRTF", "held 1, received 1, dropped 1, looked up 1, next taken 0"},
      // A second start runs after the frame in flight and resets both counters.
      {"SHFFSR", "held 1, received 0, dropped 0, looked up 1, next taken 1"},
      // A frame accepted before the stop work ran is not worked and frees the claim.
      {"SHTFRS", "held 1, received 0, dropped 0, looked up 0, next taken 1"},
  };
  for (const auto& [script, expected] : rows) {
    imageLookups = 0;
    std::vector<SampleBuffer> submitted;
    ScreenFramePipe pipe;
    std::latch gate(1);
    bool holding = false;
    int heldAtRelease = -1;
    for (char op : script) {
      if (op == 'S' || op == 'T') {
        op == 'S' ? start(pipe) : pipe.stop();
        if (!holding) (void)pipe.counters();
      } else if (op == 'F') {
        pipe.submit(submitted.emplace_back(sample()));
      } else if (op == 'H') {
        pipe.queue().async([&gate] { gate.wait(); });
        holding = true;
      } else if (op == 'R') {
        heldAtRelease = held;
        gate.count_down();
        holding = false;
      }
    }
    const auto counters = pipe.counters();
    EXPECT_EQ(held.load(), 0) << script;
    std::ostringstream outcome;
    outcome << "held " << heldAtRelease << ", received " << counters.framesReceived << ", dropped "
            << counters.framesDropped << ", looked up " << imageLookups << ", next taken ";
    pipe.submit(sample());
    outcome << pipe.counters().framesReceived - counters.framesReceived;
    EXPECT_EQ(outcome.str(), expected) << script;
  }
}

// Two capture threads each submit at ten times a 30 fps capture rate for two seconds
// while the frame work is slower than that: the pipe never holds more than one frame,
// every frame is either received or dropped, and none is kept once it stops.
TEST(ScreenFramePipeTest, TwoThreadsAtTenTimesTheCaptureRateNeverMakeItHoldTwoFrames) {
  auto& pipe = ScreenFramePipe::shared();
  start(pipe);
  (void)pipe.counters();
  constexpr auto kInterval = std::chrono::microseconds(1'000'000 / 300);
  constexpr int kFramesEach = 600;
  std::vector<std::vector<SampleBuffer>> made(2);  // kept until the pipe drained
  {
    std::vector<std::jthread> capture;
    for (auto& samples : made) {
      capture.emplace_back([&pipe, &samples, kInterval] {
        const auto begin = std::chrono::steady_clock::now();
        for (int frame = 0; frame < kFramesEach; ++frame) {
          std::this_thread::sleep_until(begin + frame * kInterval);
          pipe.submit(samples.emplace_back(sample()));
        }
      });
    }
  }
  pipe.stop();
  const auto counters = pipe.counters();
  EXPECT_EQ(heldTwoAtOnce.load(), 0);
  EXPECT_EQ(held.load(), 0);
  EXPECT_EQ(counters.framesReceived + counters.framesDropped, 2 * kFramesEach);
  EXPECT_GT(counters.framesDropped, 0);
}

}  // namespace
}  // namespace broadcast
