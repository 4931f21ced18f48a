#include "broadcast/signaling/SignalError.h"

#include <utility>

#include "platform/text/Translation.h"

namespace broadcast {

SignalError::SignalError(Kind kind, std::int64_t code, std::string message, std::string text)
    : kind_(kind), code_(code), message_(std::move(message)), text_(std::move(text)) {}

SignalError SignalError::http(std::int64_t code, std::string message) {
  return {Kind::http, code, std::move(message), {}};
}

SignalError SignalError::malformed(std::string text) { return {Kind::malformed, 0, {}, std::move(text)}; }

std::string SignalError::errorDescription() const {
  switch (kind_) {
    case Kind::http:
      return message_.empty()
                 ? platform::text::translateFilling(N_("Request failed (%s)"), "%s", std::to_string(code_))
                 : message_;
    case Kind::malformed:
      return platform::text::translateFilling(N_("Unexpected response: %s"), "%s", text_);
  }
  return {};
}

}  // namespace broadcast
