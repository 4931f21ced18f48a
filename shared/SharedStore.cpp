#include "shared/SharedStore.h"

namespace shared {

std::optional<SharedStore> SharedStore::open(std::string_view suiteName) {
  auto suite = platform::suite::Suite::open(suiteName);
  if (!suite) return std::nullopt;
  return SharedStore(std::move(*suite));
}

void SharedStore::setInteger(std::string_view key, std::int64_t value) const { suite_.setInteger(key, value); }
void SharedStore::setDouble(std::string_view key, double value) const { suite_.setDouble(key, value); }
void SharedStore::setString(std::string_view key, std::string_view value) const { suite_.setString(key, value); }
void SharedStore::setBool(std::string_view key, bool value) const { suite_.setBool(key, value); }
void SharedStore::remove(std::string_view key) const { suite_.remove(key); }

std::int64_t SharedStore::integer(std::string_view key) const { return suite_.integer(key).value_or(0); }
double SharedStore::doubleValue(std::string_view key) const { return suite_.doubleValue(key).value_or(0.0); }
std::optional<std::string> SharedStore::string(std::string_view key) const { return suite_.string(key); }
bool SharedStore::boolValue(std::string_view key) const { return suite_.boolValue(key).value_or(false); }

}  // namespace shared
