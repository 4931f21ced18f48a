#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/suite/SuiteChange.h"

namespace shared {

// Values set and keys removed together as one record, in the order added. Written by
// SharedStore::write in one transaction. A plain value, used on one thread.
class StoreChanges {
 public:
  StoreChanges& setInteger(std::string_view key, std::int64_t value);
  StoreChanges& setDouble(std::string_view key, double value);
  StoreChanges& setString(std::string_view key, std::string_view value);
  StoreChanges& setBool(std::string_view key, bool value);
  StoreChanges& remove(std::string_view key);

  [[nodiscard]] const std::vector<platform::suite::SuiteChange>& changes() const { return changes_; }

 private:
  std::vector<platform::suite::SuiteChange> changes_;
};

}  // namespace shared
