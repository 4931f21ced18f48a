#include "platform/widgethost/Clock.h"

namespace platform::widgethost {
namespace {

class SystemClock final : public Clock {
 public:
  [[nodiscard]] Date now() const override { return std::chrono::system_clock::now(); }
};

}  // namespace

const Clock& Clock::system() {
  static const SystemClock clock;
  return clock;
}

}  // namespace platform::widgethost
