#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/suite/Suite.h"
#include "shared/Constants.h"

namespace shared {

// The accessor every deliverable uses on the app-group suite. Open it for one
// operation and let it go at the end; reads turn a missing value into its default.
// Usable from any thread.
class SharedStore {
 public:
  // Nothing when the suite cannot be opened; writers then skip, readers fall back.
  static std::optional<SharedStore> open(std::string_view suiteName = kSuiteName);

  void setInteger(std::string_view key, std::int64_t value) const;
  void setDouble(std::string_view key, double value) const;
  void setString(std::string_view key, std::string_view value) const;
  void setBool(std::string_view key, bool value) const;
  void remove(std::string_view key) const;

  // 0 when missing or not an integer.
  [[nodiscard]] std::int64_t integer(std::string_view key) const;
  // 0.0 when missing or not a number.
  [[nodiscard]] double doubleValue(std::string_view key) const;
  // Nothing when missing or not a string.
  [[nodiscard]] std::optional<std::string> string(std::string_view key) const;
  // false when missing or not a boolean.
  [[nodiscard]] bool boolValue(std::string_view key) const;

 private:
  explicit SharedStore(platform::suite::Suite suite) : suite_(std::move(suite)) {}
  platform::suite::Suite suite_;
};

}  // namespace shared
