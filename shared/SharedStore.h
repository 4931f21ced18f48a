#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/suite/Suite.h"
#include "shared/Constants.h"
#include "shared/StoreChanges.h"
#include "shared/StoreSnapshot.h"

namespace shared {

// The accessor every deliverable uses on the app-group suite. Open it for one
// operation and let it go at the end; reads turn a missing value into its default,
// and a text longer than kMaxStringBytes reads as missing. Usable from any thread.
class SharedStore {
 public:
  // Nothing when the suite cannot be opened; writers then skip, readers fall back.
  static std::optional<SharedStore> open(std::string_view suiteName = kSuiteName);

  // Each writes one key on its own; false when the statement failed (a full disk, a
  // file over its size limit), the key then as it was.
  bool setInteger(std::string_view key, std::int64_t value) const;
  bool setDouble(std::string_view key, double value) const;
  bool setString(std::string_view key, std::string_view value) const;
  bool setBool(std::string_view key, bool value) const;
  bool remove(std::string_view key) const;

  // Writes every change in one transaction (BEGIN IMMEDIATE): all of them or none.
  // false when it failed.
  bool write(const StoreChanges& changes) const;

  // Reads the keys in one snapshot (one read transaction); what is not asked for
  // reads as missing, and so does every key when the read failed.
  [[nodiscard]] StoreSnapshot read(std::initializer_list<std::string_view> keys) const;

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
