#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// The seam between the REST logic and the HTTP engine. This header pulls in no libcurl:
// logic libraries include it, platform/http's CurlSession implements it, and tests may
// install a transport of their own.
namespace platform::http {

// One request to send: method POST, the URL as text, the headers in order (names and
// values non-empty, without line breaks), the body.
struct HttpRequest {
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::chrono::milliseconds timeout{60'000};
};

// What came back. `status` is 0 when the reply was not an HTTP reply.
struct HttpResponse {
  std::int64_t status = 0;
  std::string body;
};

// A failure of the transport itself; nothing usable came back. `description` is the
// text a user sees.
struct TransportError {
  enum class Kind {
    invalidRequest,  // not a URL, not http(s), a header or body that cannot be sent; nothing was sent
    insecure,        // plain http to a host that is not loopback; nothing was sent
    replyTooLarge,   // the reply body passed the cap; the exchange was cut off
    timedOut,        // no complete reply within the request's timeout
    failed,          // any other failure: refused connection, TLS, name lookup, ...
  };
  Kind kind = Kind::failed;
  std::string description;
};

using HttpResult = std::variant<HttpResponse, TransportError>;

// Sends POST requests and blocks until the reply or a failure. Implementations are
// safe to call from several threads at once; redirects are never followed.
class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  virtual HttpResult post(const HttpRequest& request) = 0;
};

// The process-wide shared session the REST clients send through. A program installs
// one at start (platform::http::CurlSession::shared() in the executables); tests may
// install a fake or a wrapper. The transport must outlive every request made with it.
// Until one is installed, requests fail with a transport error.
void installSharedTransport(HttpTransport& transport);
HttpTransport* sharedTransport();

}  // namespace platform::http
