// Screen-session REST replies through the client's reply handling. The input is a reply
// as text: one byte for the call ('o' open, 'c' close, 't' close with a track name; any
// other byte opens), the status in decimal up to a line break (text that is no number
// stands for a reply that is not an HTTP reply, status 0), then the body. A transport
// of the harness's hands that reply back. Checks: an open that succeeds gives a
// non-empty id from a 2xx reply; every failure has a description a user can be shown
// (non-empty, valid UTF-8) and is the error the status calls for; each request has
// the exact form.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/http/HttpTransport.h"

namespace {

using broadcast::SignalError;
using nlohmann::json;
using platform::http::HttpRequest;
using platform::http::HttpResponse;
using platform::http::HttpResult;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "screen-session reply invariant broken: %s\n", what.c_str());
  std::abort();
}

void check(bool holds, const std::string& what) {
  if (!holds) fail(what);
}

// Answers every request with the reply under test and keeps the request. One thread.
class ReplayTransport final : public platform::http::HttpTransport {
 public:
  HttpResult post(const HttpRequest& request) override {
    ++requests;
    last = request;
    return reply;
  }
  HttpResponse reply;
  HttpRequest last;
  int requests = 0;
};

bool isUtf8(const std::string& text) {
  try {
    static_cast<void>(json(text).dump());
    return true;
  } catch (const json::type_error&) {
    return false;
  }
}

void checkRequest(const HttpRequest& request, const std::string& path, const json& body) {
  check(request.url == "https://api.example.test/v1/api" + path, "request went to " + request.url);
  check(request.headers.size() == 2 &&
            request.headers[0] == std::pair<std::string, std::string>{"Content-Type", "application/json"} &&
            request.headers[1] == std::pair<std::string, std::string>{"Authorization", "Bearer tok en"},
        "request headers are not the client's two");
  check(request.body == body.dump(), "request body is " + request.body);
}

// Every failure can be shown to the user, and says what the status calls for.
void checkFailure(const broadcast::RequestError& error, std::int64_t status, bool open) {
  const std::string description = error.description();
  check(!description.empty(), "a failure without a description");
  check(isUtf8(description), "a description that is not UTF-8");
  const SignalError* signal = error.signalError();
  check(signal != nullptr, "a reply became a transport failure: " + description);
  if (status >= 200 && status <= 299) {
    check(open && signal->kind() == SignalError::Kind::malformed && signal->text() == "no screenSessionId",
          "a 2xx reply failed: " + description);
  } else {
    check(signal->kind() == SignalError::Kind::http && signal->code() == status,
          "wrong error for a non-2xx reply");
    check(signal->message().empty() ? description == "Request failed (" + std::to_string(status) + ")"
                                    : description == signal->message(),
          "description does not follow the message: " + description);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ReplayTransport transport;
  static const bool installed = (platform::http::installSharedTransport(transport), true);
  static_cast<void>(installed);
  const broadcast::ScreenShareSignaling client{"https://api.example.test/v1/api", "tok en", "lounge"};

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.empty()) return 0;
  const char call = input.front();
  std::string_view rest = input.substr(1);
  const std::size_t lineEnd = rest.find('\n');
  const std::string_view statusText = rest.substr(0, lineEnd);
  std::int64_t status = 0;
  if (std::from_chars(statusText.data(), statusText.data() + statusText.size(), status).ec != std::errc())
    status = 0;
  transport.reply =
      HttpResponse{status, std::string(lineEnd == std::string_view::npos ? "" : rest.substr(lineEnd + 1))};
  const int requestsBefore = transport.requests;
  const bool twoHundreds = status >= 200 && status <= 299;

  if (call == 'c' || call == 't') {
    const std::optional<std::string> trackName =
        call == 't' ? std::optional<std::string>("screen-ios-42") : std::nullopt;
    const auto outcome = client.closeScreenSession("scr-1", trackName);
    json sent = {{"sessionId", "scr-1"}};
    if (trackName) sent["trackName"] = *trackName;
    checkRequest(transport.last, "/voice/sfu/lounge/screen-session/close", sent);
    check(outcome.ok() == twoHundreds, "a close succeeded or failed against its status");
    if (!outcome.ok()) checkFailure(outcome.error(), status, /*open=*/false);
  } else {
    const auto outcome = client.openScreenSession("voice-1");
    checkRequest(transport.last, "/voice/sfu/lounge/screen-session", {{"sessionId", "voice-1"}});
    if (outcome.ok()) {
      check(twoHundreds, "an open succeeded with status " + std::to_string(status));
      check(!outcome.value().empty(), "an open succeeded with an empty id");
      const json reply = json::parse(transport.reply.body, nullptr, /*allow_exceptions=*/false);
      check(reply.is_object() && reply.value("screenSessionId", json()) == outcome.value(),
            "the id is not the reply's screenSessionId");
    } else {
      checkFailure(outcome.error(), status, /*open=*/true);
    }
  }
  check(transport.requests == requestsBefore + 1, "not exactly one request per call");
  return 0;
}
