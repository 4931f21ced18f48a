#pragma once

#include <optional>
#include <string>

#include "platform/suite/StoredValue.h"

namespace platform::suite {

// One step of a record written as a whole: set the key to the value, or remove it.
struct SuiteChange {
  std::string key;
  std::optional<StoredValue> value;  // nothing: remove the key
};

}  // namespace platform::suite
