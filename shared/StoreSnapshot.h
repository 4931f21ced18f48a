#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/suite/StoredValue.h"

namespace shared {

// Keys read together in one read transaction, as one moment of the store left them;
// a key that was not asked for reads as missing. Same getters and defaults as
// SharedStore. A plain value.
class StoreSnapshot {
 public:
  // The values belong to the keys in their order.
  StoreSnapshot(std::initializer_list<std::string_view> keys,
                std::vector<platform::suite::StoredValue> values);

  // 0 when missing or not an integer.
  [[nodiscard]] std::int64_t integer(std::string_view key) const;
  // 0.0 when missing or not a number.
  [[nodiscard]] double doubleValue(std::string_view key) const;
  // Nothing when missing or not a string.
  [[nodiscard]] std::optional<std::string> string(std::string_view key) const;
  // false when missing or not a boolean.
  [[nodiscard]] bool boolValue(std::string_view key) const;

 private:
  [[nodiscard]] const platform::suite::StoredValue& valueOf(std::string_view key) const;

  std::vector<std::pair<std::string, platform::suite::StoredValue>> entries_;
};

}  // namespace shared
