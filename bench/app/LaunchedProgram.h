#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// A program started for one measurement, with variables added to its environment and
// its output in a file; stopping it ends every process it started too. The benchmark
// process becomes a child subreaper, so helpers the program leaves behind are reaped
// here rather than lingering. Benchmark thread.
class LaunchedProgram {
 public:
  using Environment = std::vector<std::pair<std::string, std::string>>;

  LaunchedProgram(const std::vector<std::string>& argv, const Environment& environment,
                  std::filesystem::path outputFile);
  ~LaunchedProgram();
  LaunchedProgram(const LaunchedProgram&) = delete;
  LaunchedProgram& operator=(const LaunchedProgram&) = delete;

  [[nodiscard]] pid_t pid() const { return pid_; }
  // Taken just before the process was made.
  [[nodiscard]] std::chrono::steady_clock::time_point startedAt() const { return startedAt_; }

  // Everything the program wrote to stdout and stderr so far.
  [[nodiscard]] std::string output() const;
  // Polls the output until `done` holds for it or `limit` passes; the output then.
  std::optional<std::string> waitForOutput(const std::function<bool(const std::string&)>& done,
                                           std::chrono::milliseconds limit) const;

  // SIGTERM to the program, then waits for it and all its descendants to end; whatever
  // is left after a few seconds gets SIGKILL.
  void stop();

 private:
  std::filesystem::path outputFile_;
  std::chrono::steady_clock::time_point startedAt_;
  pid_t pid_ = -1;
};

}  // namespace bench
