#include "broadcast/signaling/ScreenShareSignaling.h"

#include <chrono>

#include "broadcast/signaling/PathSegment.h"
#include "platform/http/HttpTransport.h"
#include "platform/text/Translation.h"

namespace broadcast {

namespace {

using platform::http::TransportError;

// The path of a request about the channel: its id is one segment, never a way out.
std::string channelPath(const std::string& channelId, const std::string& tail) {
  return "/voice/sfu/" + encodePathSegment(channelId) + tail;
}

// The reply body's top-level object, or an empty object for anything else.
nlohmann::json replyObject(const std::string& body) {
  if (body.empty()) return nlohmann::json::object();
  auto parsed = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  // Returned by moving: copying a value recurses once per level of nesting, and a
  // deeply nested reply would overflow the stack.
  if (!parsed.is_object()) return nlohmann::json::object();
  return parsed;
}

}  // namespace

Outcome<nlohmann::json> ScreenShareSignaling::postJSON(const std::string& path,
                                                       const nlohmann::json& body) const {
  platform::http::HttpRequest request;
  request.url = apiBase + path;
  request.headers = {{"Content-Type", "application/json"}, {"Authorization", "Bearer " + token}};
  request.timeout = kRequestTimeout;
  try {
    request.body = body.dump();
  } catch (const nlohmann::json::exception&) {
    // Text that is not UTF-8 cannot be written as JSON; nothing is sent.
    return RequestError{TransportError{TransportError::Kind::invalidRequest,
                                       _("The request body could not be encoded as JSON.")}};
  }

  auto* transport = platform::http::sharedTransport();
  if (transport == nullptr) {
    return RequestError{TransportError{TransportError::Kind::failed, _("No HTTP session is available.")}};
  }
  auto result = transport->post(request);
  if (auto* failure = std::get_if<TransportError>(&result)) return RequestError{std::move(*failure)};

  auto& response = std::get<platform::http::HttpResponse>(result);
  nlohmann::json reply = replyObject(response.body);
  if (response.status >= 200 && response.status <= 299) return reply;

  auto message = reply.find("message");
  return RequestError{SignalError::http(response.status, message != reply.end() && message->is_string()
                                                             ? message->get<std::string>()
                                                             : std::string())};
}

Outcome<std::string> ScreenShareSignaling::openScreenSession(const std::string& primarySessionId) const {
  auto reply = postJSON(channelPath(channelId, "/screen-session"), {{"sessionId", primarySessionId}});
  if (!reply.ok()) return reply.error();
  auto id = reply.value().find("screenSessionId");
  if (id == reply.value().end() || !id->is_string() || id->get_ref<const std::string&>().empty()) {
    return RequestError{SignalError::malformed("no screenSessionId")};
  }
  return id->get<std::string>();
}

Outcome<void> ScreenShareSignaling::closeScreenSession(const std::string& screenSessionId,
                                                       const std::optional<std::string>& trackName) const {
  nlohmann::json body = {{"sessionId", screenSessionId}};
  if (trackName) body["trackName"] = *trackName;
  auto reply = postJSON(channelPath(channelId, "/screen-session/close"), body);
  if (!reply.ok()) return reply.error();
  return {};
}

}  // namespace broadcast
