#include "tests/support/DemoService.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace testsupport {

DemoService::DemoService(const std::string& program) {
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0 || (pid_ = fork()) < 0) return;
  if (pid_ == 0) {  // only async-signal-safe calls until exec: the test may run threads
    dup2(output[1], STDOUT_FILENO);
    execl(program.c_str(), program.c_str(), "--port", "0", nullptr);
    _exit(127);
  }
  close(output[1]);
  FILE* printed = fdopen(output[0], "r");
  char line[256];
  constexpr std::string_view kListening = "listening on http://127.0.0.1:";
  while (port_ == 0 && std::fgets(line, sizeof line, printed) != nullptr) {
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
