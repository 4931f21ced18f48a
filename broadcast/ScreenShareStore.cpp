#include "broadcast/ScreenShareStore.h"

#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace broadcast {

std::optional<ScreenShareStore::Credentials> ScreenShareStore::load() {
  namespace keys = shared::keys;
  auto store = shared::SharedStore::open(shared::kSuiteName);
  if (!store) return std::nullopt;
  const auto record = store->read({keys::kAccessToken, keys::kChannelId, keys::kPrimarySessionId,
                                   keys::kApiBase, keys::kCredentialsUpdatedAt});

  auto required = [&record](const char* key) -> std::optional<std::string> {
    auto value = record.string(key);
    if (!value || value->empty()) return std::nullopt;
    return value;
  };
  auto token = required(keys::kAccessToken);
  auto channelId = required(keys::kChannelId);
  auto primarySessionId = required(keys::kPrimarySessionId);
  if (!token || !channelId || !primarySessionId) return std::nullopt;
  std::string apiBase = record.string(keys::kApiBase).value_or(shared::kDefaultApiBase);
  double updatedAt = record.doubleValue(keys::kCredentialsUpdatedAt);

  return Credentials{std::move(*token), std::move(*channelId), std::move(*primarySessionId),
                     std::move(apiBase), Date(std::chrono::duration<double>(updatedAt))};
}

}  // namespace broadcast
