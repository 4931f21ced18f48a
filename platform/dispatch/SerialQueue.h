#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace platform::dispatch {

// A labelled serial queue: work items run one at a time, in the order in which they
// were posted, on one thread of the queue's own that carries the label as its name.
// async() and sync() may be called from any thread; the items run on the queue's thread.
class SerialQueue {
 public:
  using Work = std::function<void()>;

  explicit SerialQueue(std::string label);
  // Runs what is still queued, then ends the thread.
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  [[nodiscard]] const std::string& label() const { return label_; }

  // Queues the work and returns at once; the work never runs inside this call.
  void async(Work work);
  // Queues the work and returns once it has run. Never call it from the queue's own
  // thread: the item would wait for itself.
  void sync(const Work& work);

  // The name the queue's thread carries: Linux keeps at most 15 characters of a thread
  // name, so a longer label is cut to its first 15.
  [[nodiscard]] static std::string threadNameFor(std::string_view label);

 private:
  void run();

  const std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Work> pending_;
  bool workerWaiting_ = false;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace platform::dispatch
