#pragma once

#include <string>
#include <variant>

#include "broadcast/signaling/SignalError.h"
#include "platform/http/HttpTransport.h"

namespace broadcast {

// Why a REST request failed: the client's own SignalError, or the transport's failure
// (libcurl, a text that is not a URL, plain http off loopback, the reply-size cap, a
// request body that cannot be encoded), passed on with its own description.
struct RequestError {
  std::variant<SignalError, platform::http::TransportError> cause;

  // The text the user sees: SignalError::errorDescription() or the transport's description.
  std::string description() const;
  // The SignalError when the failure is the client's own, else nullptr.
  const SignalError* signalError() const { return std::get_if<SignalError>(&cause); }
};

}  // namespace broadcast
