#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

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
using platform::screencast::BroadcastService;
using platform::screencast::SampleBufferType;
using testsupport::HttpReply;
using testsupport::RecordedRequest;

constexpr auto kPatience = 20s;

bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// The broadcast service as the handler sees it: records the errors it is handed.
class RecordingService final : public BroadcastService {
 public:
  void finishBroadcastWithError(const BroadcastError& error) override {
    std::lock_guard lock(mutex_);
    errors_.push_back(error);
  }
  std::vector<BroadcastError> errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<BroadcastError> errors_;
};

// Holds the server's answer to a request until the test opens it.
class Gate {
 public:
  void open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    opened_.wait_for(lock, kPatience, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

std::optional<bool> storedScreenActive() {
  auto suite = platform::suite::Suite::open(shared::kSuiteName);
  return suite ? suite->boolValue(shared::keys::kScreenActive) : std::nullopt;
}

class SampleHandlerTest : public ::testing::Test {
 protected:
  using Reply = std::function<HttpReply()>;

  void SetUp() override {
    platform::http::installSharedTransport(platform::http::CurlSession::shared());
    waitUntilServing();
    handler->attachService(service);
    framesBefore_ = ScreenFramePipe::shared().counters().framesReceived;
  }

  void TearDown() override {
    openGate.open();
    closeGate.open();
    EXPECT_TRUE(
        platform::dispatch::WorkerPool::shared().waitUntilIdle(std::chrono::steady_clock::now() + kPatience));
    ScreenFramePipe::shared().stop();
  }

  void storeCredentials(const std::string& apiBase) {
    auto store = shared::SharedStore::open();
    ASSERT_TRUE(store);
    store->setString(shared::keys::kAccessToken, "tok-1");
    store->setString(shared::keys::kChannelId, "lounge");
    store->setString(shared::keys::kPrimarySessionId, "voice-1");
    store->setString(shared::keys::kApiBase, apiBase);
  }

  void setReplies(Reply open, Reply close) {
    std::lock_guard lock(replyMutex_);
    openReply_ = std::move(open);
    closeReply_ = std::move(close);
  }

  std::vector<RecordedRequest> posts() const {
    std::vector<RecordedRequest> posts;
    for (auto& request : server.requests()) {
      if (request.method == "POST") posts.push_back(request);
    }
    return posts;
  }

  // Offers a video frame and tells whether the pipe counted it, i.e. whether it runs.
  bool pipeTakesVideo() {
    auto& pipe = ScreenFramePipe::shared();
    const auto before = pipe.counters().framesReceived;
    handler->processSampleBuffer(test::makeFakeSample(), SampleBufferType::video);
    return pipe.counters().framesReceived > before;
  }

  static HttpReply json(int status, const std::string& body) {
    HttpReply reply;
    reply.status = status;
    reply.body = body;
    // No kept-alive connection is left to hold up the server's stop at the end.
    reply.headers.emplace("Connection", "close");
    return reply;
  }

  testsupport::TempDataDir dataDir;
  std::shared_ptr<RecordingService> service = std::make_shared<RecordingService>();
  std::shared_ptr<SampleHandler> handler = std::make_shared<SampleHandler>();
  Gate openGate;
  Gate closeGate;

 private:
  void waitUntilServing() const {
    // A request answered proves the accept loop runs, so stopping the server later
    // cannot race its start. GET requests are not the client's and are filtered out.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(server.port()));
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string probe = "GET /ready HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(write(fd, probe.data(), probe.size()), static_cast<ssize_t>(probe.size()));
    std::array<char, 256> reply{};
    EXPECT_GT(read(fd, reply.data(), reply.size()), 0);
    close(fd);
  }

  std::mutex replyMutex_;
  Reply openReply_ = [] { return json(200, R"({"screenSessionId":"scr-7"})"); };
  Reply closeReply_ = [] { return json(200, "{}"); };
  std::int64_t framesBefore_ = 0;

 protected:
  // Declared last: its threads stop before the replies they call go away.
  testsupport::LoopbackHttpServer server{[this](const RecordedRequest& request) {
    Reply reply;
    {
      std::lock_guard lock(replyMutex_);
      reply = request.target.ends_with("/close") ? closeReply_ : openReply_;
    }
    return reply ? reply() : json(404, "");
  }};
};

TEST_F(SampleHandlerTest, RefusesWithoutCredentialsAndChangesNothing) {
  handler->broadcastStartedWithSetupInfo(std::nullopt);
  auto errors = service->errors();
  ASSERT_EQ(errors.size(), 1U);
  EXPECT_EQ(errors[0].domain, "com.tarnwell.sorn.broadcast");
  EXPECT_EQ(errors[0].code, 1);
  EXPECT_EQ(errors[0].localizedDescription, "Join a Sorn voice channel before sharing your screen.");
  EXPECT_EQ(storedScreenActive(), std::nullopt);
  EXPECT_TRUE(
      platform::dispatch::WorkerPool::shared().waitUntilIdle(std::chrono::steady_clock::now() + kPatience));
  EXPECT_FALSE(pipeTakesVideo());

  // The service then ends the broadcast: false is stored, nothing is sent.
  handler->broadcastFinished();
  EXPECT_EQ(storedScreenActive(), false);
  EXPECT_TRUE(posts().empty());
}

TEST_F(SampleHandlerTest, OpensStreamsVideoOnlyAndClosesOnFinish) {
  std::optional<bool> activeWhenOpenArrived;
  setReplies(
      [&activeWhenOpenArrived] {
        activeWhenOpenArrived = storedScreenActive();
        return json(200, R"({"screenSessionId":"scr-7"})");
      },
      [] { return json(200, "{}"); });
  storeCredentials(server.url("/v1/api"));

  handler->broadcastStartedWithSetupInfo(platform::screencast::SetupInfo{{"ignored", "value"}});
  ASSERT_TRUE(eventually([this] { return pipeTakesVideo(); }));
  EXPECT_EQ(activeWhenOpenArrived, true);
  ASSERT_EQ(posts().size(), 1U);
  EXPECT_EQ(posts()[0].target, "/v1/api/voice/sfu/lounge/screen-session");
  EXPECT_EQ(nlohmann::json::parse(posts()[0].body), (nlohmann::json{{"sessionId", "voice-1"}}));

  // Audio of either kind, or of no known kind, never reaches the pipe.
  auto& pipe = ScreenFramePipe::shared();
  const auto before = pipe.counters();
  for (int type : {2, 3, 0, 7}) handler->processSampleBuffer(test::makeFakeSample(), SampleBufferType{type});
  const auto after = pipe.counters();
  EXPECT_EQ(after.framesReceived, before.framesReceived);
  EXPECT_EQ(after.framesDropped, before.framesDropped);
  EXPECT_TRUE(pipeTakesVideo());

  handler->broadcastFinished();
  // The finish callback waited for the close, which answered at once.
  auto requests = posts();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(requests[1].target, "/v1/api/voice/sfu/lounge/screen-session/close");
  auto body = nlohmann::json::parse(requests[1].body);
  EXPECT_EQ(body["sessionId"], "scr-7");
  ASSERT_TRUE(body["trackName"].is_string());
  EXPECT_TRUE(
      std::regex_match(body["trackName"].get<std::string>(), std::regex("screen-ios-(0|[1-9][0-9]{0,9})")));
  EXPECT_EQ(storedScreenActive(), false);
  EXPECT_FALSE(pipeTakesVideo());
  EXPECT_TRUE(service->errors().empty());
}

TEST_F(SampleHandlerTest, FinishBeforeTheOpenAnswersSendsNoCloseAndTheLateSessionIsClosedAtOnce) {
  setReplies(
      [this] {
        openGate.wait();
        return json(200, R"({"screenSessionId":"scr-late"})");
      },
      [] { return json(200, "{}"); });
  storeCredentials(server.url("/v1/api"));

  handler->broadcastStartedWithSetupInfo(std::nullopt);
  ASSERT_TRUE(eventually([this] { return posts().size() == 1; }));
  // Returns while the open is still held by the server: the finish never waits for it.
  handler->broadcastFinished();
  EXPECT_EQ(posts().size(), 1U);
  EXPECT_EQ(storedScreenActive(), false);

  openGate.open();
  ASSERT_TRUE(eventually([this] { return posts().size() == 2; }));
  auto close = posts()[1];
  EXPECT_EQ(close.target, "/v1/api/voice/sfu/lounge/screen-session/close");
  EXPECT_EQ(nlohmann::json::parse(close.body)["sessionId"], "scr-late");
  ASSERT_TRUE(
      platform::dispatch::WorkerPool::shared().waitUntilIdle(std::chrono::steady_clock::now() + kPatience));
  EXPECT_FALSE(pipeTakesVideo());
  EXPECT_EQ(posts().size(), 2U);
}

TEST_F(SampleHandlerTest, ASessionThatOpensAfterTheHandlerWentIsClosed) {
  setReplies(
      [this] {
        openGate.wait();
        return json(200, R"({"screenSessionId":"scr-orphan"})");
      },
      [] { return json(200, "{}"); });
  storeCredentials(server.url("/v1/api"));

  handler->broadcastStartedWithSetupInfo(std::nullopt);
  ASSERT_TRUE(eventually([this] { return posts().size() == 1; }));
  // The open task holds the handler weakly: dropping ours ends it.
  std::weak_ptr<SampleHandler> weak = handler;
  handler.reset();
  EXPECT_TRUE(weak.expired());

  openGate.open();
  ASSERT_TRUE(eventually([this] { return posts().size() == 2; }));
  EXPECT_EQ(nlohmann::json::parse(posts()[1].body)["sessionId"], "scr-orphan");
  ASSERT_TRUE(
      platform::dispatch::WorkerPool::shared().waitUntilIdle(std::chrono::steady_clock::now() + kPatience));
  const auto before = ScreenFramePipe::shared().counters().framesReceived;
  ScreenFramePipe::shared().submit(test::makeFakeSample());
  EXPECT_EQ(ScreenFramePipe::shared().counters().framesReceived, before);
}

TEST_F(SampleHandlerTest, ACloseThatNeverAnswersHoldsTheFinishForTheLimitOnly) {
  setReplies([] { return json(200, R"({"screenSessionId":"scr-8"})"); },
             [this] {
               closeGate.wait();
               return json(200, "{}");
             });
  storeCredentials(server.url("/v1/api"));
  handler->broadcastStartedWithSetupInfo(std::nullopt);
  ASSERT_TRUE(eventually([this] { return pipeTakesVideo(); }));

  const auto began = std::chrono::steady_clock::now();
  handler->broadcastFinished();
  const auto waited = std::chrono::steady_clock::now() - began;
  // A loose sanity bound around the 2.0 s limit; speed is not measured here.
  EXPECT_GE(waited, 1900ms);
  EXPECT_LT(waited, 10s);
  EXPECT_EQ(posts().size(), 2U);
  EXPECT_EQ(storedScreenActive(), false);
  EXPECT_FALSE(pipeTakesVideo());
}

TEST_F(SampleHandlerTest, AFailedOpenEndsTheBroadcastWithItsDescriptionAndNoClose) {
  struct Case {
    const char* name;
    std::string apiBase;
    HttpReply openReply;
    std::string description;  // empty: the transport's own, which must not be empty
    std::size_t requestsSent;
  };
  const std::string local = server.url("/v1/api");
  const Case cases[] = {
      {"refused with a message", local, json(403, R"({"message":"Channel is full"})"), "Channel is full", 1},
      {"error without a message", local, json(500, ""), "Request failed (500)", 1},
      {"success without an id", local, json(200, R"({"screenSessionId":""})"),
       "Unexpected response: no screenSessionId", 1},
      {"plain http off loopback", "http://192.0.2.1/v1/api", json(200, "{}"), "", 0},
      {"not a URL", "", json(200, "{}"), "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDataDir caseDir;
    auto caseService = std::make_shared<RecordingService>();
    auto caseHandler = std::make_shared<SampleHandler>();
    caseHandler->attachService(caseService);
    const std::size_t sentBefore = posts().size();
    setReplies([reply = c.openReply] { return reply; }, [] { return json(200, "{}"); });
    storeCredentials(c.apiBase);

    caseHandler->broadcastStartedWithSetupInfo(std::nullopt);
    ASSERT_TRUE(eventually([&] { return !caseService->errors().empty(); }));
    auto error = caseService->errors()[0];
    if (c.description.empty()) {
      EXPECT_FALSE(error.localizedDescription.empty());
    } else {
      EXPECT_EQ(error.localizedDescription, c.description);
    }
    EXPECT_EQ(storedScreenActive(), true);
    caseHandler->broadcastFinished();
    ASSERT_TRUE(
        platform::dispatch::WorkerPool::shared().waitUntilIdle(std::chrono::steady_clock::now() + kPatience));
    EXPECT_EQ(posts().size() - sentBefore, c.requestsSent);
    EXPECT_EQ(storedScreenActive(), false);
    EXPECT_EQ(caseService->errors().size(), 1U);
  }
}

}  // namespace
}  // namespace broadcast
