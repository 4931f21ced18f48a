#include "shared/StoreSnapshot.h"

#include <algorithm>

namespace shared {

using platform::suite::StoredValue;

StoreSnapshot::StoreSnapshot(std::initializer_list<std::string_view> keys, std::vector<StoredValue> values) {
  entries_.reserve(keys.size());
  auto value = values.begin();
  for (std::string_view key : keys) {
    entries_.emplace_back(std::string(key), value != values.end() ? std::move(*value++) : StoredValue{});
  }
}

std::int64_t StoreSnapshot::integer(std::string_view key) const {
  return valueOf(key).asInteger().value_or(0);
}
double StoreSnapshot::doubleValue(std::string_view key) const {
  return valueOf(key).asDouble().value_or(0.0);
}
std::optional<std::string> StoreSnapshot::string(std::string_view key) const { return valueOf(key).asText(); }
bool StoreSnapshot::boolValue(std::string_view key) const { return valueOf(key).asBool().value_or(false); }

const StoredValue& StoreSnapshot::valueOf(std::string_view key) const {
  static const StoredValue missing;
  auto found =
      std::find_if(entries_.begin(), entries_.end(), [key](const auto& entry) { return entry.first == key; });
  return found != entries_.end() ? found->second : missing;
}

}  // namespace shared
