#pragma once

#include <sys/types.h>

#include <vector>

namespace bench {

// Resident memory of a set of processes, summed.
struct ProcessMemory {
  double rssMiB = 0;  // VmRSS: shared pages counted in every process that maps them
  double pssMiB = 0;  // Pss: shared pages split between the processes that map them
  int processes = 0;  // how many of them could be read
};

// A process and every process descended from it, as /proc shows them at the time of the
// call. Any thread.
class ProcessTree {
 public:
  // `root` first, then its descendants; empty when `root` is gone.
  static std::vector<pid_t> of(pid_t root);
  static ProcessMemory memoryOf(const std::vector<pid_t>& processes);
};

}  // namespace bench
