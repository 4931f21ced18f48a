#pragma once

#include <cstddef>
#include <memory>

#include "platform/http/HttpTransport.h"

namespace platform::http {

// The process-wide libcurl session: sends POST requests from any thread, several at
// once, each blocking its caller. Idle easy handles are kept and handed out newest
// first, so back-to-back requests reuse the same kept-alive connection; name lookups
// and TLS sessions are shared between the handles, so a second connection resumes TLS.
// Redirects are never followed. Only https, or plain http to a loopback host (127.0.0.0/8,
// ::1, localhost) and never through a proxy, so a bearer token never crosses a network
// in clear text. Reply bodies over kMaxReplyBytes end the request.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor): private, as the session is never destroyed
class CurlSession final : public HttpTransport {
 public:
  static constexpr std::size_t kMaxReplyBytes = std::size_t{1} << 20;

  // Made on first use; lives until the process ends, so tasks still running at exit
  // never see it destroyed.
  static CurlSession& shared();

  HttpResult post(const HttpRequest& request) override;

  CurlSession(const CurlSession&) = delete;
  CurlSession& operator=(const CurlSession&) = delete;

 private:
  CurlSession();
  ~CurlSession() override;

  struct Handles;
  std::unique_ptr<Handles> handles_;
};

}  // namespace platform::http
