#include "shared/StoreChanges.h"

#include <string>

namespace shared {

using platform::suite::StoredValue;

StoreChanges& StoreChanges::setInteger(std::string_view key, std::int64_t value) {
  changes_.push_back({std::string(key), StoredValue::ofInteger(value)});
  return *this;
}

StoreChanges& StoreChanges::setDouble(std::string_view key, double value) {
  changes_.push_back({std::string(key), StoredValue::ofReal(value)});
  return *this;
}

StoreChanges& StoreChanges::setString(std::string_view key, std::string_view value) {
  changes_.push_back({std::string(key), StoredValue::ofText(value)});
  return *this;
}

StoreChanges& StoreChanges::setBool(std::string_view key, bool value) {
  return setInteger(key, value ? 1 : 0);
}

StoreChanges& StoreChanges::remove(std::string_view key) {
  changes_.push_back({std::string(key), std::nullopt});
  return *this;
}

}  // namespace shared
