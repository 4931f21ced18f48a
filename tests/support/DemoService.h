#pragma once

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

namespace testsupport {

// sorn-demo-service on a port of its choosing, in the test's environment; the port is read from the line it
// prints once it listens. Killed when the object goes, unless stopped before. Test thread.
class DemoService {
 public:
  explicit DemoService(const std::string& program) {
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
  ~DemoService() {
    if (pid_ > 0 && !stopped_) end(SIGKILL);
  }
  DemoService(const DemoService&) = delete;
  DemoService& operator=(const DemoService&) = delete;

  [[nodiscard]] int port() const { return port_; }  // 0 when the service did not start
  [[nodiscard]] pid_t pid() const { return pid_; }
  // Asks the service to stop as Ctrl-C does; its exit status once it did.
  int stop() { return end(SIGTERM); }

  [[nodiscard]] httplib::Result request(const std::string& method, const std::string& path,
                                        const std::string& body = {}) const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(std::chrono::seconds(45));  // an answer may take the peer's whole answering time
    if (method == "POST") return client.Post(path, body, "application/json");
    if (method == "DELETE") return client.Delete(path);
    return client.Get(path);
  }
  // The voice calls the service holds (GET /demo/voice/peers); null when it did not answer.
  [[nodiscard]] nlohmann::json peers() const {
    auto reply = request("GET", "/demo/voice/peers");
    return reply && reply->status == 200 ? nlohmann::json::parse(reply->body, nullptr, false)
                                         : nlohmann::json();
  }

 private:
  int end(int signal) {
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    stopped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  pid_t pid_ = -1;
  int port_ = 0;
  bool stopped_ = false;
};

}  // namespace testsupport
