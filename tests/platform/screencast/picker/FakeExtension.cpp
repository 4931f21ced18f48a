#include "tests/platform/screencast/picker/FakeExtension.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/platform/screencast/picker/MainLoopSpin.h"

namespace testsupport {
namespace {

// The state letter and parent id of a process from /proc/<pid>/stat, or nothing.
struct ProcessStat {
  char state = '?';
  pid_t parent = 0;
};

bool readStat(pid_t pid, ProcessStat& stat) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(file, line)) return false;
  // The command name in parentheses may hold spaces; the fields after it do not.
  const auto close = line.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(line.substr(close + 1));
  rest >> stat.state >> stat.parent;
  return static_cast<bool>(rest);
}

}  // namespace

FakeExtension::FakeExtension(const std::filesystem::path& programDir, const std::string& programName)
    : program_(programDir / programName), records_(programDir / (programName + ".launches")) {
  std::filesystem::create_directories(programDir);
  std::filesystem::create_directories(records_);
  std::ofstream script(program_);
  script << "#!/bin/sh\n"
         << "records='" << records_.string() << "'\n"
         << "{ echo \"$$\"; for argument in \"$@\"; do printf '%s\\n' \"$argument\"; done; }"
         << " > \"$records/$$.tmp\"\n"
         << "mv \"$records/$$.tmp\" \"$records/$$\"\n"
         << "exec sleep 30\n";
  script.close();
  std::filesystem::permissions(program_, std::filesystem::perms::owner_all);
}

FakeExtension::~FakeExtension() {
  for (const auto& record : launches()) kill(record.pid, SIGTERM);
}

std::map<std::string, std::string> FakeExtension::metadataKeys(const std::string& id,
                                                               const std::string& name) const {
  return {{"Id", id},
          {"ExtensionPoint", "com.tarnwell.sorn.broadcast-upload"},
          {"Exec", program_.string()},
          {"Name", name},
          {"AppGroup", "group.com.tarnwell.sorn"}};
}

void FakeExtension::writeMetadata(const std::filesystem::path& dataDir, const std::string& id,
                                  const std::map<std::string, std::string>& keys) {
  const auto folder = dataDir / "sorn" / "extensions";
  std::filesystem::create_directories(folder);
  std::ofstream file(folder / (id + ".extension"));
  file << "[Extension]\n";
  for (const auto& [key, value] : keys) file << key << '=' << value << '\n';
}

std::vector<LaunchRecord> FakeExtension::launches() const {
  std::vector<LaunchRecord> records;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(records_, error)) {
    if (entry.path().extension() == ".tmp") continue;
    std::ifstream file(entry.path());
    LaunchRecord record;
    std::string line;
    if (!std::getline(file, line)) continue;
    record.pid = static_cast<pid_t>(std::stol(line));
    while (std::getline(file, line)) record.arguments.push_back(line);
    records.push_back(record);
  }
  std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
  return records;
}

bool FakeExtension::waitForLaunches(std::size_t count) const {
  return spinUntil([&] { return launches().size() >= count; });
}

std::vector<pid_t> childProcesses() {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const auto pid = static_cast<pid_t>(std::stol(name));
    ProcessStat stat;
    if (readStat(pid, stat) && stat.parent == getpid()) children.push_back(pid);
  }
  return children;
}

bool processIsGone(pid_t pid) {
  ProcessStat stat;
  return !readStat(pid, stat);
}

bool processIsRunning(pid_t pid) {
  ProcessStat stat;
  return readStat(pid, stat) && stat.state != 'Z' && stat.state != 'X';
}

}  // namespace testsupport
