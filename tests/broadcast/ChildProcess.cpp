#include "tests/broadcast/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace broadcast::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& unset) {
  std::array<int, 2> out{};
  std::array<int, 2> err{};
  if (pipe2(out.data(), O_CLOEXEC) != 0 || pipe2(err.data(), O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string variable(*entry);
    std::string name = variable.substr(0, variable.find('='));
    if (std::find(unset.begin(), unset.end(), name) == unset.end()) environment.push_back(variable);
  }
  std::vector<char*> envp;
  for (auto& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& arg : args) argp.push_back(arg.data());
  argp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  int failed = posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (failed != 0) {
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
  }
  readers_.emplace_back([this, fd = out[0]] { readInto(fd, output_); });
  readers_.emplace_back([this, fd = err[0]] { readInto(fd, errorOutput_); });
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (auto& reader : readers_) reader.join();
}

void ChildProcess::signal(int signalNumber) const { kill(pid_, signalNumber); }

void ChildProcess::readInto(int fd, std::string& text) {
  std::array<char, 4096> buffer{};
  for (;;) {
    ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got <= 0) break;
    std::lock_guard lock(mutex_);
    text.append(buffer.data(), static_cast<std::size_t>(got));
    changed_.notify_all();
  }
  close(fd);
}

std::optional<std::string> ChildProcess::waitForOutputLine(
    const std::function<bool(const std::string&)>& test, std::chrono::milliseconds timeout) {
  std::optional<std::string> found;
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    std::istringstream lines(output_);
    std::string line;
    while (std::getline(lines, line)) {
      if (lines.eof()) break;  // a line still being written
      if (test(line)) {
        found = line;
        return true;
      }
    }
    return false;
  });
  return found;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      for (auto& reader : readers_) reader.join();
      readers_.clear();
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return std::nullopt;
    }
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string ChildProcess::output() {
  std::lock_guard lock(mutex_);
  return output_;
}

std::string ChildProcess::errorOutput() {
  std::lock_guard lock(mutex_);
  return errorOutput_;
}

}  // namespace broadcast::test
