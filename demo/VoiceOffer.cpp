#include "demo/VoiceOffer.h"

#include <gst/sdp/sdp.h>

#include <charconv>
#include <optional>
#include <string_view>

namespace demo {

namespace {

bool hasAttribute(const GstSDPMessage* message, const GstSDPMedia* media, const char* key) {
  return gst_sdp_media_get_attribute_val(media, key) != nullptr ||
         gst_sdp_message_get_attribute_val(message, key) != nullptr;
}

bool listsFormat(const GstSDPMedia* media, std::string_view payloadType) {
  for (guint i = 0; i < gst_sdp_media_formats_len(media); ++i)
    if (payloadType == gst_sdp_media_get_format(media, i)) return true;
  return false;
}

// The payload type an "rtpmap" value ("111 opus/48000/2") gives Opus at 48 kHz, when it
// does and the section lists it.
std::optional<int> rtpmapOpusPayloadType(const GstSDPMedia* media, std::string_view rtpmap) {
  const auto space = rtpmap.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string_view payloadType = rtpmap.substr(0, space);
  const std::string_view encoding = rtpmap.substr(space + 1);
  constexpr std::string_view kOpus = "opus/48000";
  if (encoding.size() < kOpus.size() ||
      g_ascii_strncasecmp(encoding.data(), kOpus.data(), kOpus.size()) != 0 ||
      !listsFormat(media, payloadType))
    return std::nullopt;
  int value = -1;
  const auto [end, error] =
      std::from_chars(payloadType.data(), payloadType.data() + payloadType.size(), value);
  if (error != std::errc{} || end != payloadType.data() + payloadType.size() || value < 0 || value > 127)
    return std::nullopt;
  return value;
}

}  // namespace

std::variant<VoiceOffer, std::string> VoiceOffer::parse(const std::string& sdp) {
  g_autoptr(GstSDPMessage) message = nullptr;
  // The parser accepts nearly any text; a session description at least has its version.
  if (gst_sdp_message_new_from_text(sdp.c_str(), &message) != GST_SDP_OK ||
      g_strcmp0(gst_sdp_message_get_version(message), "0") != 0 || gst_sdp_message_medias_len(message) == 0)
    return std::string("The offer is not an SDP session description.");

  const GstSDPMedia* audio = nullptr;
  for (guint i = 0; i < gst_sdp_message_medias_len(message) && audio == nullptr; ++i) {
    const GstSDPMedia* media = gst_sdp_message_get_media(message, i);
    if (g_strcmp0(gst_sdp_media_get_media(media), "audio") == 0) audio = media;
  }
  if (audio == nullptr) return std::string("The offer has no audio.");

  std::optional<int> payloadType;
  for (guint i = 0; i < gst_sdp_media_attributes_len(audio) && !payloadType; ++i) {
    const GstSDPAttribute* attribute = gst_sdp_media_get_attribute(audio, i);
    if (g_strcmp0(attribute->key, "rtpmap") == 0 && attribute->value != nullptr)
      payloadType = rtpmapOpusPayloadType(audio, attribute->value);
  }
  if (!payloadType) return std::string("The offer's audio has no Opus at 48 kHz.");
  if (g_strcmp0(gst_sdp_media_get_proto(audio), "UDP/TLS/RTP/SAVPF") != 0)
    return std::string("The offer's audio is not DTLS-SRTP (UDP/TLS/RTP/SAVPF).");
  if (!hasAttribute(message, audio, "ice-ufrag") || !hasAttribute(message, audio, "ice-pwd"))
    return std::string("The offer has no ICE credentials.");
  if (!hasAttribute(message, audio, "fingerprint")) return std::string("The offer has no DTLS fingerprint.");
  return VoiceOffer{sdp, *payloadType};
}

}  // namespace demo
