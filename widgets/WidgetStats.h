#pragma once

#include <cstdint>
#include <string>

#include "platform/widgethost/Date.h"

namespace widgets {

using platform::widgethost::Date;

// The statistics both widgets show, as the app last stored them. A plain value.
struct WidgetStats {
  std::int64_t voiceSeconds = 0;
  std::int64_t streakDays = 0;
  std::int64_t bestStreak = 0;
  std::string username;
  Date updatedAt;

  // Reads the record from the shared store, opened afresh, in one snapshot, so never
  // half of one write and half of the next: the placeholder when the store cannot be
  // opened; a missing key, or one holding another type, reads as 0,
  // the empty string or 1970-01-01. Values are taken as stored, negatives included.
  static WidgetStats load();

  // 18240 s, 7, 21, "you", dated at its first use; made once per process, on first
  // use, safely from any thread.
  static const WidgetStats& placeholder();
};

}  // namespace widgets
