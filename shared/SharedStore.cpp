#include "shared/SharedStore.h"

#include <span>

namespace shared {

std::optional<SharedStore> SharedStore::open(std::string_view suiteName) {
  auto suite = platform::suite::Suite::open(suiteName, kMaxStringBytes);
  if (!suite) return std::nullopt;
  return SharedStore(std::move(*suite));
}

bool SharedStore::setInteger(std::string_view key, std::int64_t value) const {
  return suite_.setInteger(key, value);
}
bool SharedStore::setDouble(std::string_view key, double value) const { return suite_.setDouble(key, value); }
bool SharedStore::setString(std::string_view key, std::string_view value) const {
  return suite_.setString(key, value);
}
bool SharedStore::setBool(std::string_view key, bool value) const { return suite_.setBool(key, value); }
bool SharedStore::remove(std::string_view key) const { return suite_.remove(key); }

bool SharedStore::write(const StoreChanges& changes) const { return suite_.write(changes.changes()); }

StoreSnapshot SharedStore::read(std::initializer_list<std::string_view> keys) const {
  return {keys, suite_.read(std::span(keys.begin(), keys.size()))};
}

std::int64_t SharedStore::integer(std::string_view key) const { return suite_.integer(key).value_or(0); }
double SharedStore::doubleValue(std::string_view key) const { return suite_.doubleValue(key).value_or(0.0); }
std::optional<std::string> SharedStore::string(std::string_view key) const { return suite_.string(key); }
bool SharedStore::boolValue(std::string_view key) const { return suite_.boolValue(key).value_or(false); }

}  // namespace shared
