#include "bench/app/LoadProbeServer.h"

#include <httplib.h>

namespace bench {
namespace {

constexpr const char* kPagePath = "/sorn/dashboard";

// A small page of the dashboard's kind: styled text and a few cards, and a script that
// reports the window's load event.
constexpr const char* kPage = R"(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Dashboard</title>
<style>
  body { margin: 0; font-family: sans-serif; background: #101014; color: #ececf1; }
  header { padding: 24px 20px 8px; font-size: 28px; font-weight: 700; }
  .card { margin: 12px 20px; padding: 16px; border-radius: 16px; background: #1c1c24; }
  .label { font-size: 12px; letter-spacing: 0.08em; text-transform: uppercase; color: #9a9aa8; }
  .value { font-size: 32px; font-weight: 700; margin-top: 4px; }
</style>
</head>
<body>
<header>Dashboard</header>
<div class="card"><div class="label">Voice time</div><div class="value">5.1h</div></div>
<div class="card"><div class="label">Streak</div><div class="value">7 days</div></div>
<div class="card"><div class="label">Best streak</div><div class="value">21 days</div></div>
<script>
  window.addEventListener('load', () => fetch('/loaded', { cache: 'no-store' }));
</script>
</body>
</html>
)";

}  // namespace

LoadProbeServer::LoadProbeServer() : server_(std::make_unique<httplib::Server>()) {
  server_->set_tcp_nodelay(true);
  server_->Get(kPagePath, [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_content(kPage, "text/html; charset=utf-8");
  });
  server_->Get("/loaded", [this](const httplib::Request&, httplib::Response& response) {
    const auto now = std::chrono::steady_clock::now();
    {
      const std::lock_guard lock(mutex_);
      if (!loadedAt_) loadedAt_ = now;
    }
    loaded_.notify_all();
    response.set_header("Cache-Control", "no-store");
    response.status = 204;
  });
  listening_ = server_->bind_to_port("127.0.0.1", kPort);
  if (listening_) thread_ = std::thread([this] { server_->listen_after_bind(); });
}

LoadProbeServer::~LoadProbeServer() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string LoadProbeServer::pageUrl() { return "http://localhost:" + std::to_string(kPort) + kPagePath; }

void LoadProbeServer::expectLoad() {
  const std::lock_guard lock(mutex_);
  loadedAt_.reset();
}

std::optional<std::chrono::steady_clock::time_point> LoadProbeServer::waitForLoad(
    std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  loaded_.wait_for(lock, limit, [this] { return loadedAt_.has_value(); });
  return loadedAt_;
}

}  // namespace bench
