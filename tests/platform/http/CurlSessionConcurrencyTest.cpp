#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/http/CurlSession.h"
#include "tests/platform/http/HttpTestSupport.h"

namespace {

using platform::http::CurlSession;
using platform::http::HttpResponse;
using testsupport::answer;
using testsupport::HttpReply;
using testsupport::RecordedRequest;

// Open and close tasks overlap: the one session serves several threads at once, each
// getting its own reply.
TEST(CurlSessionConcurrencyTest, ThreadsSharingTheSessionEachGetTheirOwnReply) {
  testsupport::LoopbackHttpServer server([](const RecordedRequest& request) { return answer(200, request.body); });
  constexpr int threads = 6;
  constexpr int requestsPerThread = 20;
  std::vector<int> mismatches(threads, 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < requestsPerThread; ++i) {
        std::string body = "{\"n\":\"" + std::to_string(t) + "-" + std::to_string(i) + "\"}";
        auto result = CurlSession::shared().post({server.url("/echo"), {}, body, std::chrono::seconds(10)});
        const auto* reply = std::get_if<HttpResponse>(&result);
        if (reply == nullptr || reply->status != 200 || reply->body != body) ++mismatches[t];
      }
    });
  }
  for (auto& worker : workers) worker.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
  EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(threads * requestsPerThread));
}

}  // namespace
