#pragma once

#include <cstddef>

#include "shared/Endpoints.h"

// Names that more than one deliverable uses.
namespace shared {

inline constexpr const char* kSuiteName = "group.com.tarnwell.sorn";
inline constexpr const char* kBroadcastExtensionId = "com.tarnwell.sorn.broadcast";
// The longest text the store hands to a reader; a longer stored text reads as missing.
inline constexpr std::size_t kMaxStringBytes = std::size_t{64} * 1024;

}  // namespace shared
