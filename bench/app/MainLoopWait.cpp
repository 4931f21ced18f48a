#include "bench/app/MainLoopWait.h"

#include <glib.h>

namespace bench {

bool iterateMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  bool expired = false;
  // Wakes the blocked iteration when the limit has passed.
  g_autoptr(GSource) deadline = g_timeout_source_new(static_cast<guint>(limit.count()));
  g_source_set_callback(
      deadline,
      +[](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &expired, nullptr);
  g_source_attach(deadline, nullptr);
  while (!done() && !expired) g_main_context_iteration(nullptr, TRUE);
  g_source_destroy(deadline);
  return done();
}

}  // namespace bench
