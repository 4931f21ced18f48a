#pragma once

#include <gio/gio.h>
#include <httplib.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/gobject/ObjectRef.h"

namespace testsupport {

// sorn-demo-service on a port of its choosing, in the test's environment; the port is read from the line it
// prints once it listens. Killed when the object goes, unless stopped before. Test thread.
class DemoService {
 public:
  explicit DemoService(const std::string& program)
      : process_(platform::gobject::ObjectRef<GSubprocess>::adopt(g_subprocess_new(
            G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr, program.c_str(), "--port", "0", nullptr))) {
    if (!process_) return;
    GInputStream* output = g_subprocess_get_stdout_pipe(process_.get());
    g_autoptr(GDataInputStream) printed = g_data_input_stream_new(output);
    constexpr std::string_view kListening = "listening on http://127.0.0.1:";
    while (port_ == 0) {
      g_autofree char* line = g_data_input_stream_read_line(printed, nullptr, nullptr, nullptr);
      if (line == nullptr) break;
      if (const char* at = std::strstr(line, kListening.data())) port_ = std::atoi(at + kListening.size());
    }
    g_input_stream_close(output, nullptr, nullptr);
  }
  ~DemoService() {
    if (process_ && g_subprocess_get_identifier(process_.get())) end(SIGKILL);
  }
  DemoService(const DemoService&) = delete;
  DemoService& operator=(const DemoService&) = delete;

  [[nodiscard]] int port() const { return port_; }  // 0 when the service did not start
  // 0 once the service has ended.
  [[nodiscard]] pid_t pid() const {
    const char* identifier = g_subprocess_get_identifier(process_.get());
    return identifier != nullptr ? std::atoi(identifier) : 0;
  }
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
    g_subprocess_send_signal(process_.get(), signal);
    g_subprocess_wait(process_.get(), nullptr, nullptr);
    return g_subprocess_get_if_exited(process_.get()) ? g_subprocess_get_exit_status(process_.get())
                                                      : 128 + g_subprocess_get_term_sig(process_.get());
  }

  platform::gobject::ObjectRef<GSubprocess> process_;
  int port_ = 0;
};

}  // namespace testsupport
