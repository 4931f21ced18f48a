#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace demo {

// One screen session the demo service handed out.
struct ScreenSession {
  std::string id;
  std::string channelId;
  std::string primarySessionId;
  std::string trackName;  // set when it was closed with one
  bool open = true;
};

// The demo service's record of screen sessions; shared by the REST API, which opens
// and closes them, and the dashboard, which shows them. Safe from any server thread.
class ScreenSessions {
 public:
  ScreenSession open(const std::string& channelId, const std::string& primarySessionId);
  // False when no open session of that channel has the id.
  bool close(const std::string& channelId, const std::string& id,
             const std::optional<std::string>& trackName);
  std::vector<ScreenSession> all() const;

 private:
  mutable std::mutex mutex_;
  std::uint64_t nextNumber_ = 1;
  std::map<std::string, ScreenSession> sessions_;
};

}  // namespace demo
