#include "platform/http/HttpTransport.h"

#include <atomic>

namespace platform::http {

namespace {
// Written once at start, read by every request: an atomic pointer needs no lock.
std::atomic<HttpTransport*> installedTransport{nullptr};
}  // namespace

void installSharedTransport(HttpTransport& transport) {
  installedTransport.store(&transport, std::memory_order_release);
}

HttpTransport* sharedTransport() { return installedTransport.load(std::memory_order_acquire); }

}  // namespace platform::http
