#pragma once

#include <string>
#include <variant>

namespace demo {

// A caller's SDP offer that the voice peer can answer: an audio section with Opus over
// DTLS-SRTP, with ICE credentials and a DTLS fingerprint.
struct VoiceOffer {
  std::string sdp;
  int opusPayloadType = 0;  // of the first audio section that offers Opus

  // The offer, or why it cannot be answered (a sentence for the caller).
  static std::variant<VoiceOffer, std::string> parse(const std::string& sdp);
};

}  // namespace demo
