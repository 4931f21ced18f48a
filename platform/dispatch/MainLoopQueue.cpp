#include "platform/dispatch/MainLoopQueue.h"

#include <glib.h>

#include <memory>

#include "platform/dispatch/Guarded.h"

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
        // A work item that fails is dropped.
        runGuarded([data] { (*static_cast<Work*>(data))(); });
        return G_SOURCE_REMOVE;
      },
      new Work(std::move(work)), [](gpointer data) { delete static_cast<Work*>(data); });
}

}  // namespace platform::dispatch
