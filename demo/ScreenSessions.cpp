#include "demo/ScreenSessions.h"

namespace demo {

ScreenSession ScreenSessions::open(const std::string& channelId, const std::string& primarySessionId) {
  std::lock_guard lock(mutex_);
  ScreenSession session{"scr-" + std::to_string(nextNumber_++), channelId, primarySessionId, {}, true};
  sessions_[session.id] = session;
  return session;
}

bool ScreenSessions::close(const std::string& channelId, const std::string& id,
                           const std::optional<std::string>& trackName) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(id);
  if (it == sessions_.end() || !it->second.open || it->second.channelId != channelId) return false;
  it->second.open = false;
  if (trackName) it->second.trackName = *trackName;
  return true;
}

std::vector<ScreenSession> ScreenSessions::all() const {
  std::lock_guard lock(mutex_);
  std::vector<ScreenSession> result;
  result.reserve(sessions_.size());
  for (const auto& [id, session] : sessions_) result.push_back(session);
  return result;
}

}  // namespace demo
