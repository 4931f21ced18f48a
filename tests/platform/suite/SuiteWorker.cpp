// A child process of the suite's multi-process tests, in one of two roles.
//
//   sorn-suite-worker SUITE INDEX WORKERS COUNT
// One of several processes that write and read the same suite at once. Writes its own
// counter key from 1 to N, each time with a two-key record naming it, and after each
// write reads every other worker's counter and the record: a counter must be missing
// (not yet written) or a whole number that never goes down, and both keys of the
// record, read in one snapshot, must come from the same write. Exits 0 when everything
// it read was a value some worker wrote.
//
//   sorn-suite-worker --over-file-limit SUITE LIMIT BYTES [--own-handler]
// Writes a record with a text of BYTES bytes under a file-size limit of LIMIT bytes:
// exits 0 when the write failed as a whole, a small write after it still worked, and
// with --own-handler, the program's own SIGXFSZ handler was kept and called.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/suite/Suite.h"

namespace {

using platform::suite::StoredValue;
using platform::suite::Suite;
using platform::suite::SuiteChange;

volatile std::sig_atomic_t fileSizeSignals = 0;

int writeOverFileLimit(const std::string& suiteName, long limit, long bytes, bool ownHandler) {
  if (ownHandler) std::signal(SIGXFSZ, [](int) { fileSizeSignals = fileSizeSignals + 1; });
  const rlimit fileLimit{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
  if (setrlimit(RLIMIT_FSIZE, &fileLimit) != 0) return 2;
  const auto suite = Suite::open(suiteName);
  if (!suite) return 2;
  const SuiteChange record[] = {
      {"record.count", StoredValue::ofInteger(1)},
      {"record.text", StoredValue::ofText(std::string(static_cast<std::size_t>(bytes), 'x'))}};
  const bool wrote = suite->write(record);
  const bool wroteSmall = suite->setString("small", "fits");
  std::fprintf(stderr, "large write %d, record.count %s, small write %d, signals %d\n", wrote,
               suite->integer("record.count") ? "stored" : "missing", wroteSmall,
               static_cast<int>(fileSizeSignals));
  const bool handlerKept = !ownHandler || fileSizeSignals > 0;
  return !wrote && !suite->integer("record.count") && wroteSmall && suite->string("small") == "fits" &&
                 handlerKept
             ? 0
             : 1;
}

int writeAndReadAlongOthers(const std::string& suiteName, int index, int workers, int count) {
  const std::string_view recordKeys[] = {"record.writer", "record.echo"};
  std::vector<std::int64_t> lastSeen(static_cast<std::size_t>(workers), 0);
  for (int n = 1; n <= count; ++n) {
    auto suite = Suite::open(suiteName);
    if (!suite) {
      std::fprintf(stderr, "worker %d: suite cannot be opened\n", index);
      return 1;
    }
    suite->setInteger("counter." + std::to_string(index), n);
    const std::string writer = "worker-" + std::to_string(index) + ":" + std::to_string(n);
    const SuiteChange record[] = {{std::string(recordKeys[0]), StoredValue::ofText(writer)},
                                  {std::string(recordKeys[1]), StoredValue::ofText(writer)}};
    if (!suite->write(record)) {
      std::fprintf(stderr, "worker %d: the record was not written\n", index);
      return 1;
    }
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
    const auto read = suite->read(recordKeys);
    const auto first = read[0].asText(), second = read[1].asText();
    if (!first || first->rfind("worker-", 0) != 0 || first != second) {
      std::fprintf(stderr, "worker %d: read half a record: %s / %s\n", index, first.value_or("-").c_str(),
                   second.value_or("-").c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if ((args.size() == 4 || args.size() == 5) && args[0] == "--over-file-limit") {
    return writeOverFileLimit(args[1], std::atol(args[2].c_str()), std::atol(args[3].c_str()),
                              args.size() == 5 && args[4] == "--own-handler");
  }
  if (args.size() == 4) {
    return writeAndReadAlongOthers(args[0], std::atoi(args[1].c_str()), std::atoi(args[2].c_str()),
                                   std::atoi(args[3].c_str()));
  }
  std::fprintf(stderr,
               "usage: sorn-suite-worker SUITE INDEX WORKERS COUNT\n"
               "       sorn-suite-worker --over-file-limit SUITE LIMIT BYTES [--own-handler]\n");
  return 2;
}
