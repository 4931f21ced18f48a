#pragma once

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/MainLoopSpin.h"

namespace testsupport {

// The state letter of a process ('-' when it is gone entirely) and its parent.
inline std::pair<char, pid_t> processStat(pid_t pid) {
  std::string line;
  std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), line);
  // The command name in parentheses may hold spaces; the fields after it do not.
  std::pair<char, pid_t> stat{'-', 0};
  std::istringstream(line.substr(line.rfind(')') + 1)) >> stat.first >> stat.second;
  return stat;
}
inline bool isRunning(pid_t pid) {
  return std::string_view("-ZX").find(processStat(pid).first) == std::string::npos;
}

// Direct children of this process that are still there (running or not yet reaped).
inline std::vector<pid_t> childProcesses() {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const pid_t pid = std::atoi(entry.path().filename().c_str());
    if (pid > 0 && processStat(pid).second == getpid()) children.push_back(pid);
  }
  return children;
}

// A broadcast extension for tests: a shell program that records its arguments in a file
// named after its process id and stays running as `sleep`, and the metadata naming it.
// Ends the processes it recorded when it goes away. Test thread.
class FakeExtension {
 public:
  explicit FakeExtension(const std::filesystem::path& dir)
      : program_(dir / "recorder"), records_(dir / "launches") {
    std::filesystem::create_directories(records_);
    std::ofstream(program_) << "#!/bin/sh\ncd '" << records_.string()
                            << "'\nprintf '%s\\n' \"$@\" > .$$ && mv .$$ $$\nexec sleep 30\n";
    std::filesystem::permissions(program_, std::filesystem::perms::owner_all);
  }
  ~FakeExtension() {
    for (const auto& [pid, arguments] : launches()) kill(pid, SIGTERM);
  }

  const std::filesystem::path& program() const { return program_; }
  std::map<std::string, std::string> metadataKeys(const std::string& id, const std::string& name) const {
    return {{"Id", id},
            {"ExtensionPoint", "com.tarnwell.sorn.broadcast-upload"},
            {"Exec", program_.string()},
            {"Name", name},
            {"AppGroup", "group.com.tarnwell.sorn"}};
  }
  // Writes <dataDir>/sorn/extensions/<id>.extension with exactly these keys.
  static void writeMetadata(const std::filesystem::path& dataDir, const std::string& id,
                            const std::map<std::string, std::string>& keys) {
    std::filesystem::create_directories(dataDir / "sorn" / "extensions");
    std::ofstream file(dataDir / "sorn" / "extensions" / (id + ".extension"));
    file << "[Extension]\n";
    for (const auto& [key, value] : keys) file << key << '=' << value << '\n';
  }

  // The arguments of each start so far, by process id.
  std::map<pid_t, std::vector<std::string>> launches() const {
    std::map<pid_t, std::vector<std::string>> records;
    for (const auto& entry : std::filesystem::directory_iterator(records_)) {
      if (entry.path().filename().c_str()[0] == '.') continue;
      std::ifstream file(entry.path());
      auto& arguments = records[std::atoi(entry.path().filename().c_str())];
      for (std::string line; std::getline(file, line);) arguments.push_back(line);
    }
    return records;
  }
  // Waits until `count` starts are recorded.
  bool waitForLaunches(std::size_t count) const {
    return spinUntil([&] { return launches().size() >= count; }, std::chrono::seconds(10));
  }

 private:
  std::filesystem::path program_;
  std::filesystem::path records_;
};

}  // namespace testsupport
