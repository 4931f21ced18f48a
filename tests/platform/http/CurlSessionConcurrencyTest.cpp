#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/http/CurlSession.h"
#include "tests/platform/http/HttpTestSupport.h"

namespace {

using platform::http::HttpResponse;

// Open and close tasks overlap: the one session serves several threads at once, each
// getting its own reply.
TEST(CurlSessionConcurrencyTest, ThreadsSharingTheSessionEachGetTheirOwnReply) {
  testsupport::LoopbackHttpServer server(
      [](const testsupport::RecordedRequest& request) { return testsupport::answer(200, request.body); });
  constexpr int kThreads = 6, kRequestsPerThread = 20;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < kRequestsPerThread; ++i) {
        const std::string body = "{\"n\":\"" + std::to_string(t) + "-" + std::to_string(i) + "\"}";
        const auto result = platform::http::CurlSession::shared().post({server.url("/echo"), {}, body});
        const auto* reply = std::get_if<HttpResponse>(&result);
        if (reply == nullptr || reply->status != 200 || reply->body != body) ++mismatches[t];
      }
    });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
  EXPECT_EQ(server.requests().size(), std::size_t{kThreads * kRequestsPerThread});
}

}  // namespace
