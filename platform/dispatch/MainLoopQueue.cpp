#include "platform/dispatch/MainLoopQueue.h"

#include <glib.h>

#include <memory>

namespace platform::dispatch {

MainLoopQueue& MainLoopQueue::shared() {
  static MainLoopQueue queue;
  return queue;
}

void MainLoopQueue::post(std::function<void()> work) {
  using Work = std::function<void()>;
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) {
        try {
          (*static_cast<Work*>(data))();
        } catch (...) {
          // Nothing may unwind into the main loop; the work item is dropped.
        }
        return G_SOURCE_REMOVE;
      },
      new Work(std::move(work)), [](gpointer data) { delete static_cast<Work*>(data); });
}

}  // namespace platform::dispatch
