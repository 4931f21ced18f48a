#include "platform/dispatch/StopSignals.h"

#include <glib-unix.h>

#include <csignal>

namespace platform::dispatch {
namespace {

gboolean onSignal(gpointer stop) {
  try {
    (*static_cast<std::function<void()>*>(stop))();
  } catch (...) {
    // Nothing may unwind into GLib; a second signal asks again.
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> stop)
    : stop_(std::move(stop)),
      interrupt_(g_unix_signal_add_full(G_PRIORITY_HIGH, SIGINT, &onSignal, &stop_, nullptr)),
      terminate_(g_unix_signal_add_full(G_PRIORITY_HIGH, SIGTERM, &onSignal, &stop_, nullptr)) {}

StopSignals::~StopSignals() {
  g_source_remove(interrupt_);
  g_source_remove(terminate_);
}

}  // namespace platform::dispatch
