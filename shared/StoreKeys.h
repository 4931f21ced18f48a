#pragma once

// Every key of the shared suite, in the order in which its group is written.
namespace shared::keys {

// Statistics: written whole by the app on each "stats" message, read by the widgets.
inline constexpr const char* kVoiceSeconds = "stats.voiceSeconds";  // integer
inline constexpr const char* kStreakDays = "stats.streakDays";      // integer
inline constexpr const char* kBestStreak = "stats.bestStreak";      // integer
inline constexpr const char* kUsername = "stats.username";          // string
inline constexpr const char* kStatsUpdatedAt = "stats.updatedAt";   // double, seconds since 1970

// Voice-channel credentials: written by the app on "voiceJoined", removed on
// "voiceLeft", read by the broadcast extension.
inline constexpr const char* kAccessToken = "screen.accessToken";            // string
inline constexpr const char* kChannelId = "screen.channelId";                // string
inline constexpr const char* kPrimarySessionId = "screen.primarySessionId";  // string
inline constexpr const char* kApiBase = "screen.apiBase";                    // string
inline constexpr const char* kCredentialsUpdatedAt = "screen.updatedAt";     // double

// Whether a screen broadcast is running; written by the extension and on "voiceLeft".
inline constexpr const char* kScreenActive = "screen.active";  // bool

}  // namespace shared::keys
