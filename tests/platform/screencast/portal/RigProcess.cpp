#include "tests/platform/screencast/portal/RigProcess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace testsupport {
namespace {

std::vector<char*> nullTerminated(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (const auto& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

RigProcess::RigProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
  if (argv.empty()) throw std::invalid_argument("RigProcess needs a program");
  // Built before fork: the child may only make async-signal-safe calls.
  auto args = nullTerminated(argv);
  auto env = nullTerminated(environment);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed for " + argv.front());
  if (pid_ == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    execve(args[0], args.data(), env.data());
    _exit(127);
  }
  setpgid(pid_, pid_);
}

bool RigProcess::running() {
  if (reaped_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

RigProcess::~RigProcess() {
  kill(-pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Whatever is left of the group, the program included when it ignored SIGTERM.
  kill(-pid_, SIGKILL);
  if (!reaped_) waitpid(pid_, nullptr, 0);
}

}  // namespace testsupport
