#include "tests/support/DemoService.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

using namespace std::chrono_literals;

std::size_t entriesIn(const std::filesystem::path& folder) {
  std::error_code error;
  std::size_t count = 0;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    ++count;
  return count;
}

int readPort(int fd) {
  std::string text;
  static const std::regex listening("listening on http://127\\.0\\.0\\.1:([0-9]+)/");
  std::smatch match;
  while (!std::regex_search(text, match, listening)) {
    pollfd ready{fd, POLLIN, 0};
    char chunk[256];
    const ssize_t got = poll(&ready, 1, 30000) == 1 ? read(fd, chunk, sizeof chunk) : -1;
    if (got <= 0) return 0;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return std::stoi(match[1]);
}

}  // namespace

DemoService::DemoService(const std::string& program, const std::vector<std::string>& extraEnvironment) {
  std::vector<std::string> environment(extraEnvironment);
  for (char** variable = environ; *variable != nullptr; ++variable) environment.emplace_back(*variable);
  std::vector<char*> envp;
  for (auto& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::string name = program;
  std::string portArgument = "--port";
  std::string anyPort = "0";
  char* argv[] = {name.data(), portArgument.data(), anyPort.data(), nullptr};

  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  const bool spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  if (spawned) port_ = readPort(output[0]);
  close(output[0]);
}

DemoService::~DemoService() {
  if (pid_ > 0 && !exitStatus_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::size_t DemoService::openDescriptors() const {
  return entriesIn("/proc/" + std::to_string(pid_) + "/fd");
}

std::size_t DemoService::threads() const {
  std::size_t count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    count += name != "GstSystemClock";
  }
  return count;
}

std::optional<int> DemoService::stop() {
  kill(pid_, SIGTERM);
  int status = 0;
  for (const auto deadline = std::chrono::steady_clock::now() + 30s;
       std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
  }
  return exitStatus_;
}

httplib::Result DemoService::request(const std::string& method, const std::string& path,
                                     const std::string& body) const {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(45s);  // an answer may take the peer's whole answering time
  if (method == "POST") return client.Post(path, body, "application/json");
  if (method == "DELETE") return client.Delete(path);
  return client.Get(path);
}

nlohmann::json DemoService::peers() const {
  auto reply = request("GET", "/demo/voice/peers");
  return reply && reply->status == 200 ? nlohmann::json::parse(reply->body, nullptr, false)
                                       : nlohmann::json();
}

}  // namespace testsupport
