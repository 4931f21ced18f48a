#include "platform/screencast/extension/BroadcastSampleHandler.h"

namespace platform::screencast {

void BroadcastSampleHandler::finishBroadcastWithError(const BroadcastError& error) {
  std::shared_ptr<BroadcastService> service;
  {
    std::lock_guard lock(serviceMutex_);
    service = service_.lock();
  }
  if (service) service->finishBroadcastWithError(error);
}

void BroadcastSampleHandler::attachService(const std::shared_ptr<BroadcastService>& service) {
  std::lock_guard lock(serviceMutex_);
  service_ = service;
}

}  // namespace platform::screencast
