#include "broadcast/signaling/RequestError.h"

namespace broadcast {

std::string RequestError::description() const {
  if (const auto* signal = std::get_if<SignalError>(&cause)) return signal->errorDescription();
  return std::get<platform::http::TransportError>(cause).description;
}

}  // namespace broadcast
