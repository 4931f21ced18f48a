#include "broadcast/ScreenShareStore.h"

#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace broadcast {

std::optional<ScreenShareStore::Credentials> ScreenShareStore::load() {
  auto store = shared::SharedStore::open(shared::kSuiteName);
  if (!store) return std::nullopt;

  // Each read stops the load at the first unusable value, so later keys stay unread.
  auto required = [&store](const char* key) -> std::optional<std::string> {
    auto value = store->string(key);
    if (!value || value->empty()) return std::nullopt;
    return value;
  };
  auto token = required(shared::keys::kAccessToken);
  if (!token) return std::nullopt;
  auto channelId = required(shared::keys::kChannelId);
  if (!channelId) return std::nullopt;
  auto primarySessionId = required(shared::keys::kPrimarySessionId);
  if (!primarySessionId) return std::nullopt;
  std::string apiBase = store->string(shared::keys::kApiBase).value_or(shared::kDefaultApiBase);
  double updatedAt = store->doubleValue(shared::keys::kCredentialsUpdatedAt);

  return Credentials{std::move(*token), std::move(*channelId), std::move(*primarySessionId),
                     std::move(apiBase), Date(std::chrono::duration<double>(updatedAt))};
}

}  // namespace broadcast
