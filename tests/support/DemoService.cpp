#include "tests/support/DemoService.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

extern char** environ;

namespace testsupport {

DemoService::DemoService(const std::string& program) {
  std::string name = program, portOption = "--port", anyPort = "0";
  char* argv[] = {name.data(), portOption.data(), anyPort.data(), nullptr};

  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  const bool spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  FILE* printed = fdopen(output[0], "r");
  char line[256];
  constexpr std::string_view kListening = "listening on http://127.0.0.1:";
  while (spawned && port_ == 0 && std::fgets(line, sizeof line, printed) != nullptr) {
    if (const char* at = std::strstr(line, kListening.data())) port_ = std::atoi(at + kListening.size());
  }
  std::fclose(printed);
}

DemoService::~DemoService() {
  if (pid_ > 0 && !stopped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

int DemoService::stop() {
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  stopped_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

httplib::Result DemoService::request(const std::string& method, const std::string& path,
                                     const std::string& body) const {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(std::chrono::seconds(45));  // an answer may take the peer's whole answering time
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
