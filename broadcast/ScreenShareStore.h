#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace broadcast {

// The one place of the extension that reads the voice-channel credentials the app
// stored. No instances and no state; load() runs on the caller's thread.
class ScreenShareStore {
 public:
  // A moment as seconds since 1970-01-01 00:00 UTC, kept as a double like the store keeps it.
  using Date = std::chrono::time_point<std::chrono::system_clock, std::chrono::duration<double>>;

  // What the extension needs to open a screen session in the user's voice channel.
  struct Credentials {
    std::string token;             // not empty
    std::string channelId;         // not empty
    std::string primarySessionId;  // not empty
    std::string apiBase;           // as stored, empty included; the default when none is stored
    Date updatedAt;                // 1970-01-01 when the store holds no time

    friend bool operator==(const Credentials&, const Credentials&) = default;
  };

  ScreenShareStore() = delete;

  // Reads the five credential keys in one snapshot from a suite opened for this call,
  // so never a token of one channel with the ids of another. Nothing when the suite
  // cannot be opened or the token, channel or session id is missing or empty. Only reads.
  static std::optional<Credentials> load();
};

}  // namespace broadcast
