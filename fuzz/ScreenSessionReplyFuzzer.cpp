// Screen-session REST requests and replies through the client. The input: one byte for
// the call ('o' open, 'c' close, 't' close with a track name, 'e' with an empty one, 'p'
// a plain JSON request; any other byte opens),
// then three lines: the status in decimal (text that is no number stands for a reply
// that is not an HTTP reply, status 0), the channel id, the voice session id; the rest
// is the body. A transport of the harness's hands that reply back to a client whose API
// base ends in a slash and whose token has spaces, both taken as they are. Checks: an open that
// succeeds gives a non-empty id from a 2xx reply; every failure has a description a user
// can be shown (non-empty, valid UTF-8) and is the error the status calls for; each
// request has the exact form, its channel id one path segment that means that id; a
// voice session id that is no UTF-8 is sent nowhere; a plain request gives a 2xx
// reply's object, or an empty one.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/http/HttpTransport.h"

namespace {

using broadcast::SignalError;
using nlohmann::json;
using platform::http::HttpRequest;
using platform::http::HttpResponse;
using platform::http::HttpResult;
using platform::http::TransportError;

const std::string kApiBase = "https://api.example.test/v1/api/";

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

bool isEscape(std::string_view text, std::size_t at) {
  return text[at] == '%' && at + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[at + 1])) &&
         std::isxdigit(static_cast<unsigned char>(text[at + 2]));
}

// Every "%XY" with two hex digits read as the byte it names, all else as it is.
std::string percentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned byte = 0;
    if (isEscape(text, i) &&
        std::from_chars(text.data() + i + 1, text.data() + i + 3, byte, 16).ec == std::errc()) {
      decoded += static_cast<char>(byte);
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

// Whether the text is one RFC 3986 path segment (path characters and escapes, no "." or
// ".."), and how many of its escapes have a lower-case hex digit.
std::pair<bool, int> segmentShape(std::string_view text) {
  bool segment = text != "." && text != "..";
  int lowerEscapes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isEscape(text, i)) {
      lowerEscapes += std::islower(text[i + 1]) || std::islower(text[i + 2]) ? 1 : 0;
      i += 2;
    } else {
      segment = segment && (std::isalnum(static_cast<unsigned char>(text[i])) != 0 ||
                            std::string_view("-._~!$&'()*+,;=:@").find(text[i]) != std::string_view::npos);
    }
  }
  return {segment, lowerEscapes};
}

// The channel id goes as one segment that decodes to what the id decodes to; an id that
// is a segment already goes as it is, and the escapes the client makes are upper case.
void checkSegment(const std::string& segment, const std::string& channelId) {
  const auto [isSegment, lowerEscapes] = segmentShape(segment);
  const auto [idIsSegment, idLowerEscapes] = segmentShape(channelId);
  check(isSegment, "not one path segment: " + segment);
  check(percentDecoded(segment) == percentDecoded(channelId),
        "the segment names another channel: " + segment);
  check(!idIsSegment || segment == channelId, "a channel id that is a segment was changed: " + segment);
  check(lowerEscapes == idLowerEscapes, "escapes made in lower case: " + segment);
}

void checkRequest(const HttpRequest& request, const std::string& channelId, const std::string& tail,
                  const json& body) {
  const std::string prefix = kApiBase + "/voice/sfu/";
  check(request.url.starts_with(prefix) && request.url.ends_with(tail) &&
            request.url.size() >= prefix.size() + tail.size(),
        "request went to " + request.url);
  checkSegment(request.url.substr(prefix.size(), request.url.size() - prefix.size() - tail.size()),
               channelId);
  check(request.headers.size() == 2 &&
            request.headers[0] == std::pair<std::string, std::string>{"Content-Type", "application/json"} &&
            request.headers[1] == std::pair<std::string, std::string>{"Authorization", "Bearer  tok  en"},
        "request headers are not the client's two");
  check(request.timeout == std::chrono::seconds(60), "a request waits otherwise than a minute");
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

// The next line of the input, taken off it; the rest when no line break is left.
std::string_view takeLine(std::string_view& input) {
  const std::size_t end = std::min(input.find('\n'), input.size());
  const std::string_view line = input.substr(0, end);
  input.remove_prefix(std::min(end + 1, input.size()));
  return line;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ReplayTransport transport;
  static const bool installed = (platform::http::installSharedTransport(transport), true);
  static_cast<void>(installed);

  std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.empty()) return 0;
  const char call = input.front();
  input.remove_prefix(1);
  const std::string_view statusText = takeLine(input);
  const std::string channelId(takeLine(input)), voiceSessionId(takeLine(input));
  std::int64_t status = 0;
  if (std::from_chars(statusText.data(), statusText.data() + statusText.size(), status).ec != std::errc())
    status = 0;
  transport.reply = HttpResponse{status, std::string(input)};
  const broadcast::ScreenShareSignaling client{kApiBase, " tok  en", channelId};
  const int requestsBefore = transport.requests;
  const bool twoHundreds = status >= 200 && status <= 299;

  if (call == 'p') {
    const auto outcome = client.postJSON("/any", json::object());
    check(transport.last.url == kApiBase + "/any", "request went to " + transport.last.url);
    const json reply = json::parse(transport.reply.body, nullptr, /*allow_exceptions=*/false);
    check(outcome.ok() == twoHundreds, "a request succeeded or failed against its status");
    if (outcome.ok())
      check(outcome.value() == (reply.is_object() ? reply : json::object()), "not the reply's object");
    if (!outcome.ok()) checkFailure(outcome.error(), status, /*open=*/false);
  } else if (call == 'c' || call == 't' || call == 'e') {
    const std::optional<std::string> trackName = call == 't'   ? std::optional<std::string>("screen-ios-42")
                                                 : call == 'e' ? std::optional<std::string>("")
                                                               : std::nullopt;
    const auto outcome = client.closeScreenSession("scr-1", trackName);
    json sent = {{"sessionId", "scr-1"}};
    if (trackName) sent["trackName"] = *trackName;
    checkRequest(transport.last, channelId, "/screen-session/close", sent);
    check(outcome.ok() == twoHundreds, "a close succeeded or failed against its status");
    if (!outcome.ok()) checkFailure(outcome.error(), status, /*open=*/false);
  } else if (!isUtf8(voiceSessionId)) {
    const auto outcome = client.openScreenSession(voiceSessionId);
    const auto* failure = outcome.ok() ? nullptr : std::get_if<TransportError>(&outcome.error().cause);
    check(failure != nullptr && failure->kind == TransportError::Kind::invalidRequest &&
              !failure->description.empty() && isUtf8(failure->description),
          "a voice session id that is no UTF-8 did not fail as an invalid request");
    check(transport.requests == requestsBefore, "a request was sent for a voice session id that is no UTF-8");
    return 0;
  } else {
    const auto outcome = client.openScreenSession(voiceSessionId);
    checkRequest(transport.last, channelId, "/screen-session", {{"sessionId", voiceSessionId}});
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
