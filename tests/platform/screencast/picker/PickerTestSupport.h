#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// One start of the fake extension's program, as it recorded itself.
struct LaunchRecord {
  pid_t pid = 0;
  std::vector<std::string> arguments;
};

// A stand-in broadcast extension for tests: a shell program that records its process id
// and arguments, then stays running, and the metadata files that name it. Ends every
// process it recorded when it goes away. Test thread.
class FakeExtension {
 public:
  explicit FakeExtension(const std::filesystem::path& programDir, const std::string& programName = "recorder");
  ~FakeExtension();
  FakeExtension(const FakeExtension&) = delete;
  FakeExtension& operator=(const FakeExtension&) = delete;

  const std::filesystem::path& program() const { return program_; }

  // Metadata keys naming this program: Id, ExtensionPoint, Exec, Name, AppGroup.
  std::map<std::string, std::string> metadataKeys(const std::string& id, const std::string& name) const;

  // Writes <dataDir>/sorn/extensions/<id>.extension with exactly these keys.
  static void writeMetadata(const std::filesystem::path& dataDir, const std::string& id,
                            const std::map<std::string, std::string>& keys);

  // Starts recorded so far, ordered by process id.
  std::vector<LaunchRecord> launches() const;
  // Spins the default main context until `count` starts are recorded or 10 s have passed.
  bool waitForLaunches(std::size_t count) const;

 private:
  std::filesystem::path program_;
  std::filesystem::path records_;
};

// Direct children of this process that are still there (running or not yet reaped).
std::vector<pid_t> childProcesses();
// Whether the process is gone entirely: ended and reaped.
bool processIsGone(pid_t pid);
// Whether the process exists and has not ended.
bool processIsRunning(pid_t pid);

}  // namespace testsupport
