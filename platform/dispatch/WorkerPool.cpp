#include "platform/dispatch/WorkerPool.h"

#include <pthread.h>

#include <utility>

#include "platform/dispatch/SerialQueue.h"

namespace platform::dispatch {

WorkerPool& WorkerPool::shared() {
  // Never destroyed: detached work may still run while the process exits.
  static auto* pool = new WorkerPool();
  return *pool;
}

WorkerPool::WorkerPool(std::string threadName) : threadName_(std::move(threadName)) {}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  taskArrived_.notify_all();
  for (auto& thread : threads_) thread.join();
}

void WorkerPool::async(Task task) {
  std::unique_lock lock(mutex_);
  tasks_.push_back(std::move(task));
  if (idleWorkers_ >= tasks_.size() || threads_.size() >= kMaxThreads) {
    lock.unlock();
    taskArrived_.notify_one();
    return;
  }
  // Every idle worker already has a task waiting for it: this one needs a new thread.
  threads_.emplace_back([this] { run(); });
}

bool WorkerPool::waitUntilIdle(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return becameIdle_.wait_until(lock, deadline, [this] { return tasks_.empty() && runningTasks_ == 0; });
}

std::size_t WorkerPool::threadCount() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

void WorkerPool::run() {
  pthread_setname_np(pthread_self(), SerialQueue::threadNameFor(threadName_).c_str());
  std::unique_lock lock(mutex_);
  for (;;) {
    if (tasks_.empty()) {
      if (closing_) return;
      ++idleWorkers_;
      taskArrived_.wait(lock, [this] { return !tasks_.empty() || closing_; });
      --idleWorkers_;
      continue;
    }
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    ++runningTasks_;
    lock.unlock();
    task();
    task = nullptr;
    lock.lock();
    --runningTasks_;
    if (tasks_.empty() && runningTasks_ == 0) becameIdle_.notify_all();
  }
}

}  // namespace platform::dispatch
