#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// One program the portal rig runs, in a process group of its own. The group is killed
// when the object goes away, and the kernel kills the program should the test die first.
class RigProcess {
 public:
  // Starts `argv` (argv[0] a full path) with exactly `environment` ("NAME=value" entries).
  RigProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment);
  ~RigProcess();
  RigProcess(const RigProcess&) = delete;
  RigProcess& operator=(const RigProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Whether the program still runs (reaps it when it has ended).
  bool running();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

}  // namespace testsupport
