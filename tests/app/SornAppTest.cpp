// The sorn executable on the test's display, on a session bus of its own.
#include <gtest/gtest.h>

#include <glib.h>
#include <signal.h>
#include <sys/wait.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Runs a command to its end; its standard output, or nothing when it failed.
std::optional<std::string> run(const std::vector<std::string>& argv, char** envp = nullptr) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  char* out = nullptr;
  int status = 0;
  const gboolean spawned = g_spawn_sync(nullptr, args.data(), envp, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out,
                                        nullptr, &status, nullptr);
  std::string text = out != nullptr ? out : "";
  g_free(out);
  if (!spawned || !g_spawn_check_wait_status(status, nullptr)) return std::nullopt;
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) result.push_back(line);
  }
  return result;
}

class PrivateSessionBus {
 public:
  PrivateSessionBus() {
    const auto printed = run({"dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"});
    const auto values = lines(printed.value_or(""));
    if (values.size() == 2) {
      address_ = values[0];
      pid_ = std::stoi(values[1]);
    }
  }
  ~PrivateSessionBus() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  const std::string& address() const { return address_; }

 private:
  std::string address_;
  int pid_ = 0;
};

TEST(SornApp, ShowsOnePortraitWindowAndASecondStartRaisesItInsteadOfOpeningAnother) {
  PrivateSessionBus bus;
  ASSERT_FALSE(bus.address().empty());
  char** env = g_environ_setenv(g_get_environ(), "DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), TRUE);

  char* argv[] = {const_cast<char*>(SORN_BINARY), nullptr};
  GPid first = 0;
  ASSERT_TRUE(g_spawn_async(nullptr, argv, env, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &first, nullptr));
  const std::string pid = std::to_string(first);
  const auto windows = run({"timeout", "60", "xdotool", "search", "--sync", "--onlyvisible", "--pid", pid, "--name",
                            "^Sorn$"});
  ASSERT_TRUE(windows.has_value());
  ASSERT_EQ(lines(*windows).size(), 1U);
  const std::string window = lines(*windows)[0];
  const auto geometry = run({"xdotool", "getwindowgeometry", "--shell", window});
  ASSERT_TRUE(geometry.has_value());
  EXPECT_NE(geometry->find("WIDTH=390\n"), std::string::npos) << *geometry;
  EXPECT_NE(geometry->find("HEIGHT=844\n"), std::string::npos) << *geometry;

  // The second start hands over to the running app and ends.
  EXPECT_TRUE(run({"timeout", "60", SORN_BINARY}, env).has_value());
  const auto after = run({"xdotool", "search", "--onlyvisible", "--pid", pid, "--name", "^Sorn$"});
  EXPECT_EQ(lines(after.value_or("")).size(), 1U);
  int status = 0;
  EXPECT_EQ(waitpid(first, &status, WNOHANG), 0);  // still running

  kill(first, SIGTERM);
  waitpid(first, &status, 0);
  g_spawn_close_pid(first);
  g_strfreev(env);
}

TEST(SornDesktopEntry, IsAValidDesktopEntryThatStartsTheInstalledBinary) {
  EXPECT_TRUE(run({"desktop-file-validate", SORN_DESKTOP_ENTRY}).has_value());
  GKeyFile* entry = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_file(entry, SORN_DESKTOP_ENTRY, G_KEY_FILE_NONE, nullptr));
  char* exec = g_key_file_get_string(entry, "Desktop Entry", "Exec", nullptr);
  EXPECT_STREQ(exec, "sorn");
  g_free(exec);
  g_key_file_free(entry);
}

}  // namespace
