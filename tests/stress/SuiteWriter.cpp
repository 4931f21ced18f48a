// sorn-stress-suite-writer SUITE INDEX WRITERS ROUNDS: one of several processes that
// write one suite at once. Writer INDEX keeps its count under "counter.<INDEX>" and, in
// the same record, a payload under "payload.<INDEX>" whose every byte follows from the
// index and the count, so that a torn or stray value cannot pass for one. It carries
// on from the count it finds stored, and after each write reads every writer's pair in
// one snapshot: a count may be missing only before its first write and never goes
// down, and the payload is the one written with it. Runs ROUNDS rounds, or until
// killed when ROUNDS is 0; exits 1 at the first failed write or value that breaks these rules.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/suite/Suite.h"

namespace {

using platform::suite::StoredValue;

// Large enough to span several database pages, so that a kill often lands mid-write.
std::string payloadFor(int writer, std::int64_t count) {
  std::string payload = std::to_string(writer) + ":" + std::to_string(count) + ":";
  for (std::int64_t k = 0; payload.size() < 12 * 1024; ++k)
    payload.push_back(static_cast<char>('a' + (writer + count + k) % 26));
  return payload;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: sorn-stress-suite-writer SUITE INDEX WRITERS ROUNDS\n");
    return 2;
  }
  const int index = std::atoi(argv[2]);
  const long rounds = std::atol(argv[4]);
  std::vector<std::int64_t> lastSeen(static_cast<std::size_t>(std::atoi(argv[3])), 0);
  std::int64_t count = -1;
  for (long round = 0; rounds == 0 || round < rounds; ++round) {
    const auto suite = platform::suite::Suite::open(argv[1]);
    if (!suite) return 1;
    const std::string counterKey = "counter." + std::to_string(index);
    if (count < 0) count = suite->integer(counterKey).value_or(0);
    ++count;
    const platform::suite::SuiteChange record[] = {
        {"payload." + std::to_string(index), StoredValue::ofText(payloadFor(index, count))},
        {counterKey, StoredValue::ofInteger(count)}};
    if (!suite->write(record)) {
      std::fprintf(stderr, "writer %d: a record was not written\n", index);
      return 1;
    }
    for (int other = 0; other < static_cast<int>(lastSeen.size()); ++other) {
      const std::string keys[] = {"counter." + std::to_string(other), "payload." + std::to_string(other)};
      const std::string_view keyViews[] = {keys[0], keys[1]};
      const auto values = suite->read(keyViews);
      const auto seen = values[0].asInteger();
      auto& last = lastSeen[static_cast<std::size_t>(other)];
      if (seen ? *seen < last || values[1].asText() != payloadFor(other, *seen)
               : last != 0 || values[1].asText()) {
        std::fprintf(stderr, "writer %d read a value of writer %d that nobody wrote\n", index, other);
        return 1;
      }
      last = seen.value_or(0);
    }
  }
  return 0;
}
