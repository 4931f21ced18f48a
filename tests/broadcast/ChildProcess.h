#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace broadcast::test {

// A program run by a test, its standard output and error read as they come. The
// environment is the test's own, less the variables named in `unset`. Killed and
// reaped when the object goes.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& unset = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  void signal(int signalNumber) const;

  // The first line of standard output that satisfies the test, within the timeout.
  std::optional<std::string> waitForOutputLine(const std::function<bool(const std::string&)>& test,
                                               std::chrono::milliseconds timeout);
  // The exit status once the program has ended; nothing when it is still running at
  // the timeout (or ended by a signal).
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);

  std::string output();
  std::string errorOutput();

 private:
  void readInto(int fd, std::string& text);

  pid_t pid_ = -1;
  bool reaped_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  std::string errorOutput_;
  std::vector<std::thread> readers_;
};

}  // namespace broadcast::test
