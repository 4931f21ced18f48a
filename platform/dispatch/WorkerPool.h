#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform::dispatch {

// A pool of worker threads that runs asynchronous tasks, such as blocking REST
// requests. A task never waits for another: when a task arrives and no worker is idle,
// the pool starts one more thread (up to kMaxThreads). async() may be called from any
// thread; tasks run on the pool's threads, in no fixed order between each other.
class WorkerPool {
 public:
  using Task = std::function<void()>;
  static constexpr std::size_t kMaxThreads = 64;

  // The process-wide pool, made on first use. It lives until the process ends, so a
  // task still running at exit never sees it destroyed.
  static WorkerPool& shared();

  explicit WorkerPool(std::string threadName = "sorn-worker");
  // Runs the tasks still queued, then ends the threads.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues the task and returns at once; it never runs inside this call.
  void async(Task task);

  // Waits until no task is queued or running, or until the deadline; true when idle.
  bool waitUntilIdle(std::chrono::steady_clock::time_point deadline);

  [[nodiscard]] std::size_t threadCount() const;

 private:
  void run();

  const std::string threadName_;
  mutable std::mutex mutex_;
  std::condition_variable taskArrived_;
  std::condition_variable becameIdle_;
  std::deque<Task> tasks_;
  std::size_t idleWorkers_ = 0;
  std::size_t runningTasks_ = 0;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace platform::dispatch
