// An open request through ScreenShareSignaling and the shared session, against a bare
// libcurl POST of the same bytes on one reused connection, both to the same loopback
// server in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <string>
#include <thread>

#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/http/CurlSession.h"

namespace {

constexpr const char* kReply = R"({"screenSessionId":"scr-1"})";

// A loopback server that answers every open at once; TCP_NODELAY so kept-alive replies
// are not held back.
class OpenServer {
 public:
  OpenServer() {
    server_.set_tcp_nodelay(true);
    server_.set_keep_alive_max_count(1'000'000);
    server_.Post(R"(/v1/api/voice/sfu/[^/]+/screen-session)",
                 [](const httplib::Request&, httplib::Response& response) {
                   response.set_content(kReply, "application/json");
                 });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~OpenServer() {
    server_.stop();
    thread_.join();
  }
  OpenServer(const OpenServer&) = delete;
  OpenServer& operator=(const OpenServer&) = delete;

  std::string apiBase() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v1/api"; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

OpenServer& server() {
  static OpenServer instance;
  return instance;
}

void openScreenSession(benchmark::State& state) {
  platform::http::installSharedTransport(platform::http::CurlSession::shared());
  const broadcast::ScreenShareSignaling client{server().apiBase(), "tok-123", "lounge"};
  for (auto _ : state) {
    auto outcome = client.openScreenSession("voice-session-1");
    if (!outcome.ok()) {
      state.SkipWithError(outcome.error().description().c_str());
      break;
    }
    benchmark::DoNotOptimize(outcome);
  }
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

void bareCurlPost(benchmark::State& state) {
  const std::string url = server().apiBase() + "/voice/sfu/lounge/screen-session";
  const std::string body = R"({"sessionId":"voice-session-1"})";
  CURL* handle = curl_easy_init();
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  headers = curl_slist_append(headers, "Authorization: Bearer tok-123");
  std::string reply;
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  for (auto _ : state) {
    reply.clear();
    if (curl_easy_perform(handle) != CURLE_OK) {
      state.SkipWithError("bare POST failed");
      break;
    }
    benchmark::DoNotOptimize(reply);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(handle);
}

}  // namespace

BENCHMARK(bareCurlPost)->UseRealTime();
BENCHMARK(openScreenSession)->UseRealTime();
BENCHMARK(bareCurlPost)->UseRealTime();
BENCHMARK(openScreenSession)->UseRealTime();

BENCHMARK_MAIN();
