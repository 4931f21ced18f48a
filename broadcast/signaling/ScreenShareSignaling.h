#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "broadcast/signaling/Outcome.h"
#include "broadcast/signaling/RequestError.h"
#include "broadcast/signaling/SignalError.h"

namespace broadcast {

// The client of the service's screen-session REST API: a plain immutable value, copied
// freely between tasks. Each operation is one blocking POST through the process-wide
// shared session (platform::http::sharedTransport(), which the program installs at
// start); run it inside a task of the worker pool, never on a callback's thread. Safe
// to use from several threads at once. Made memberwise from the stored Credentials.
struct ScreenShareSignaling {
  std::string apiBase;    // e.g. "https://api.sorn.chat/v1/api"; paths are appended as text
  std::string token;      // sent as "Authorization: Bearer <token>", verbatim
  std::string channelId;  // one percent-encoded segment of both paths

  // How long one request may take before it fails with a time-out.
  static constexpr std::chrono::seconds kRequestTimeout{60};

  // Opens a screen session for the voice session; gives its id (never empty).
  Outcome<std::string> openScreenSession(const std::string& primarySessionId) const;
  // Closes the screen session; "trackName" is sent only when given (even when empty).
  Outcome<void> closeScreenSession(const std::string& screenSessionId,
                                   const std::optional<std::string>& trackName) const;
  // Posts the object to apiBase + path; gives the reply object of a 2xx reply (an empty
  // object when the body is empty, not JSON or not an object), or the error.
  Outcome<nlohmann::json> postJSON(const std::string& path, const nlohmann::json& body) const;

  friend bool operator==(const ScreenShareSignaling&, const ScreenShareSignaling&) = default;
};

}  // namespace broadcast
