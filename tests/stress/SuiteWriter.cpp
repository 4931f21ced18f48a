// A writer of the suite stress test. Writer i keeps its count under "counter.<i>" and,
// written just before it, a payload under "payload.<i>" whose every byte follows from
// i and the count, so a torn or stray value cannot pass for one. It carries on from the
// count it finds stored and after each write reads every writer's values back: a count
// may be missing only before its first write and never goes down, a payload must be
// one its writer wrote, at least as far on as the count. Runs ROUNDS rounds, or until
// killed when ROUNDS is 0; exits 1 at the first value that breaks these rules.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/suite/Suite.h"

namespace {

// Large enough to span several database pages, so that a kill often lands mid-write.
std::string payloadFor(int writer, std::int64_t count) {
  std::string payload = std::to_string(writer) + ":" + std::to_string(count) + ":";
  for (std::int64_t k = 0; payload.size() < 12 * 1024; ++k)
    payload.push_back(static_cast<char>('a' + (writer + count + k) % 26));
  return payload;
}

bool readsWhatWasWritten(const platform::suite::Suite& suite, int writer, std::int64_t& lastSeen) {
  const auto count = suite.integer("counter." + std::to_string(writer));
  if (!count) return lastSeen == 0;
  if (*count < lastSeen) return false;
  lastSeen = *count;
  const auto payload = suite.string("payload." + std::to_string(writer)).value_or("");
  const std::size_t colon = payload.find(':');
  std::int64_t payloadCount = 0;
  return colon != std::string::npos &&
         std::from_chars(payload.data() + colon + 1, payload.data() + payload.size(), payloadCount).ec ==
             std::errc{} &&
         payloadCount >= lastSeen && payloadFor(writer, payloadCount) == payload;
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
  const std::string counterKey = "counter." + std::to_string(index);
  std::int64_t count = -1;
  for (long round = 0; rounds == 0 || round < rounds; ++round) {
    const auto suite = platform::suite::Suite::open(argv[1]);
    if (!suite) return 1;
    if (count < 0) count = suite->integer(counterKey).value_or(0);
    suite->setString("payload." + std::to_string(index), payloadFor(index, ++count));
    suite->setInteger(counterKey, count);
    for (int other = 0; other < static_cast<int>(lastSeen.size()); ++other) {
      if (!readsWhatWasWritten(*suite, other, lastSeen[static_cast<std::size_t>(other)])) {
        std::fprintf(stderr, "writer %d read a value of writer %d that nobody wrote\n", index, other);
        return 1;
      }
    }
  }
  return 0;
}
