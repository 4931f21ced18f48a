#include "platform/dispatch/SerialQueue.h"

#include <pthread.h>

#include <latch>
#include <utility>

namespace platform::dispatch {

namespace {
// A Linux thread name holds 15 characters and the terminating zero.
constexpr std::size_t kThreadNameLength = 15;
}  // namespace

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), thread_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

std::string SerialQueue::threadNameFor(std::string_view label) {
  return std::string(label.substr(0, kThreadNameLength));
}

void SerialQueue::async(Work work) {
  bool wakeWorker = false;
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(work));
    wakeWorker = workerWaiting_;
  }
  // Only a worker that sleeps needs the (costly) wake-up; a busy one finds the item.
  if (wakeWorker) wake_.notify_one();
}

void SerialQueue::sync(const Work& work) {
  std::latch done(1);
  async([&work, &done] {
    work();
    done.count_down();
  });
  done.wait();
}

void SerialQueue::run() {
  pthread_setname_np(pthread_self(), threadNameFor(label_).c_str());
  std::unique_lock lock(mutex_);
  for (;;) {
    if (pending_.empty()) {
      if (closing_) return;
      workerWaiting_ = true;
      wake_.wait(lock, [this] { return !pending_.empty() || closing_; });
      workerWaiting_ = false;
      continue;
    }
    Work work = std::move(pending_.front());
    pending_.pop_front();
    lock.unlock();
    work();
    // The item's captures (a held sample, say) go before the next item runs.
    work = nullptr;
    lock.lock();
  }
}

}  // namespace platform::dispatch
