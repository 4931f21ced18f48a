// One of several processes that write and read the same suite at once. Writes its
// own counter key from 1 to N, and after each write reads every other worker's
// counter: a counter must be missing (not yet written) or a whole number that never
// goes down. Exits 0 when everything it read was a value some worker wrote.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/suite/Suite.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: sorn-suite-worker SUITE INDEX WORKERS COUNT\n");
    return 2;
  }
  std::string suiteName = argv[1];
  int index = std::atoi(argv[2]);
  int workers = std::atoi(argv[3]);
  int count = std::atoi(argv[4]);

  std::vector<std::int64_t> lastSeen(static_cast<std::size_t>(workers), 0);
  for (int n = 1; n <= count; ++n) {
    auto suite = platform::suite::Suite::open(suiteName);
    if (!suite) {
      std::fprintf(stderr, "worker %d: suite cannot be opened\n", index);
      return 1;
    }
    suite->setInteger("counter." + std::to_string(index), n);
    suite->setString("last.writer", "worker-" + std::to_string(index) + ":" + std::to_string(n));
    for (int other = 0; other < workers; ++other) {
      auto value = suite->integer("counter." + std::to_string(other));
      auto& seen = lastSeen[static_cast<std::size_t>(other)];
      if (!value) {
        if (seen != 0) {
          std::fprintf(stderr, "worker %d: counter %d vanished after %lld\n", index, other,
                       static_cast<long long>(seen));
          return 1;
        }
        continue;
      }
      if (*value < seen || *value > count) {
        std::fprintf(stderr, "worker %d: counter %d read %lld after %lld\n", index, other,
                     static_cast<long long>(*value), static_cast<long long>(seen));
        return 1;
      }
      seen = *value;
    }
    auto last = suite->string("last.writer");
    if (!last || last->rfind("worker-", 0) != 0) {
      std::fprintf(stderr, "worker %d: read a value nobody wrote\n", index);
      return 1;
    }
  }
  return 0;
}
