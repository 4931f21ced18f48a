#pragma once

#include "shared/Endpoints.h"

// Names that more than one deliverable uses.
namespace shared {

inline constexpr const char* kSuiteName = "group.com.tarnwell.sorn";
inline constexpr const char* kBroadcastExtensionId = "com.tarnwell.sorn.broadcast";

}  // namespace shared
