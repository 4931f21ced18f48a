#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace testsupport {

// Runs the command with /bin/sh; what it prints (up to 1 MiB).
inline std::string outputOf(const std::string& command) {
  std::string output(1 << 20, '\0');
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "cannot run: " + command;
  output.resize(std::fread(output.data(), 1, output.size(), pipe));
  pclose(pipe);
  return output;
}

// The program (found on PATH) run with these arguments in a process of its own, with
// the test's environment. Killed and reaped when the object goes.
class Process {
 public:
  explicit Process(std::vector<std::string> argv) {
    std::vector<char*> pointers;
    for (auto& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    reaped_ = posix_spawnp(&pid_, pointers[0], nullptr, nullptr, pointers.data(), environ) != 0;
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { end(SIGKILL); }

  pid_t pid() const { return pid_; }
  // Sends the signal, if any, waits for the end and tells it: "killed" by SIGKILL,
  // "signal N" by another, "exit N", or "lost" when there was nothing to wait for.
  std::string end(int signal = 0) {
    int status = 0;
    if (std::exchange(reaped_, true) || (signal != 0 && kill(pid_, signal) != 0) ||
        waitpid(pid_, &status, 0) != pid_)
      return "lost";
    if (!WIFSIGNALED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    return WTERMSIG(status) == SIGKILL ? "killed" : "signal " + std::to_string(WTERMSIG(status));
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

}  // namespace testsupport
