#pragma once

#include <httplib.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct RecordedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::multimap<std::string, std::string> headers;
  std::string body;

  std::string header(const std::string& name) const;  // any case; "" when absent
};

struct HttpReply {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  std::multimap<std::string, std::string> headers = {};
  // When set, the body instead: the pieces it gives, without a length, until the client
  // goes or it gives nothing; then the connection drops, the reply cut short.
  std::function<std::optional<std::string>()> stream = nullptr;
};

// A real HTTP/1.1 server on 127.0.0.1 with a free port, served from its own threads.
// Records every GET and POST request and answers each with what the handler returns
// (404 without one).
class LoopbackHttpServer {
 public:
  using Handler = std::function<HttpReply(const RecordedRequest&)>;

  explicit LoopbackHttpServer(Handler handler);
  ~LoopbackHttpServer();

  // "http://127.0.0.1:<port>" followed by the path.
  std::string url(const std::string& path = "") const;
  std::vector<RecordedRequest> requests() const;
  void setHandler(Handler handler);

 private:
  httplib::Server server_;
  std::thread thread_;
  mutable std::mutex mutex_;
  Handler handler_;
  std::vector<RecordedRequest> requests_;
  int port_ = 0;
};

}  // namespace testsupport
