#include "bench/app/LaunchedProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

#include "bench/app/ProcessTree.h"

namespace bench {
namespace {

using namespace std::chrono_literals;

constexpr auto kGracePeriod = 10s;

void reapExitedChildren() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

bool anyAlive(const std::vector<pid_t>& processes) {
  reapExitedChildren();
  for (pid_t pid : processes) {
    if (kill(pid, 0) == 0) return true;
  }
  return false;
}

bool waitUntilAllGone(const std::vector<pid_t>& processes, std::chrono::steady_clock::duration limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (anyAlive(processes)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

}  // namespace

LaunchedProgram::LaunchedProgram(const std::vector<std::string>& argv, const Environment& environment,
                                 std::filesystem::path outputFile)
    : outputFile_(std::move(outputFile)) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  // Everything the child needs is made before fork: other threads of this process may
  // hold the allocator's lock at that moment.
  std::vector<std::string> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view text = *variable;
    const std::string_view name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const auto& added : environment) replaced = replaced || added.first == name;
    if (!replaced) variables.emplace_back(text);
  }
  for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const int output = open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

  startedAt_ = std::chrono::steady_clock::now();
  pid_ = fork();
  if (pid_ == 0) {
    if (output >= 0) {
      dup2(output, STDOUT_FILENO);
      dup2(output, STDERR_FILENO);
    }
    execve(arguments[0], arguments.data(), envp.data());
    _exit(127);
  }
  if (output >= 0) close(output);
}

LaunchedProgram::~LaunchedProgram() { stop(); }

std::string LaunchedProgram::output() const {
  std::ifstream in(outputFile_);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<std::string> LaunchedProgram::waitForOutput(const std::function<bool(const std::string&)>& done,
                                                          std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::string text = output();
    if (done(text)) return text;
    if (std::chrono::steady_clock::now() >= deadline || !anyAlive({pid_})) return std::nullopt;
    std::this_thread::sleep_for(20ms);
  }
}

void LaunchedProgram::stop() {
  if (pid_ <= 0) return;
  const std::vector<pid_t> tree = ProcessTree::of(pid_);
  kill(pid_, SIGTERM);
  if (!waitUntilAllGone(tree, kGracePeriod)) {
    for (pid_t pid : tree) kill(pid, SIGKILL);
    waitUntilAllGone(tree, kGracePeriod);
  }
  pid_ = -1;
}

}  // namespace bench
