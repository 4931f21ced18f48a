// The suite shared by several processes: writers that run together, are killed with
// SIGKILL mid-write and start together on a fresh suite. The writers are this program
// started again with SORN_SUITE_WRITER="INDEX WRITERS ROUNDS".
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <random>
#include <sstream>
#include <thread>

#include "platform/suite/Suite.h"
#include "tests/support/RawSql.h"
#include "tests/support/TempDataDir.h"

extern char** environ;

namespace {

using platform::suite::StoredValue;
constexpr const char* kSuite = "group.test.killstress";

// Writer `index` keeps its count under "counter.<index>" and, in the same record, a
// payload spanning several pages (so that a kill often lands mid-write) whose every byte
// follows from the index and the count. It carries on from the count stored, and after
// each write reads every writer's pair in one snapshot: a count may be missing only
// before its first write and never goes down, and the payload is the one written with it.
// Runs that many rounds, or until killed when 0; 1 at the first failure.
std::string payloadFor(int writer, std::int64_t count) {
  std::string payload = std::to_string(writer) + ":" + std::to_string(count) + ":";
  for (std::int64_t k = 0; payload.size() < 12 * 1024; ++k)
    payload.push_back(char('a' + (writer + count + k) % 26));
  return payload;
}
int write(int index, int writers, int rounds) {
  std::vector<std::int64_t> lastSeen(writers, 0);
  std::int64_t count = -1;
  for (int round = 0; rounds == 0 || round < rounds; ++round) {
    const auto suite = platform::suite::Suite::open(kSuite);
    const std::string counterKey = "counter." + std::to_string(index);
    if (!suite) return 1;
    if (count < 0) count = suite->integer(counterKey).value_or(0);
    ++count;
    const platform::suite::SuiteChange record[] = {
        {"payload." + std::to_string(index), StoredValue::ofText(payloadFor(index, count))},
        {counterKey, StoredValue::ofInteger(count)}};
    if (!suite->write(record)) return 1;
    for (int other = 0; other < writers; ++other) {
      const std::string keys[] = {"counter." + std::to_string(other), "payload." + std::to_string(other)};
      const std::string_view keyViews[] = {keys[0], keys[1]};
      const auto values = suite->read(keyViews);
      const auto seen = values[0].asInteger();
      if (seen ? *seen < lastSeen[other] || values[1].asText() != payloadFor(other, *seen)
               : lastSeen[other] != 0 || values[1].asText())
        return 1;
      lastSeen[other] = seen.value_or(0);
    }
  }
  return 0;
}
[[maybe_unused]] const bool kIsWriter = [] {
  const char* role = std::getenv("SORN_SUITE_WRITER");
  int index = 0, writers = 0, rounds = 0;
  if (role != nullptr && std::istringstream(role) >> index >> writers >> rounds)
    std::_Exit(write(index, writers, rounds));
  return false;
}();

// Writer processes, one slot each; any still running when the object goes is killed.
class Writers {
 public:
  explicit Writers(int count) : pids_(count, -1) {}
  ~Writers() {
    for (std::size_t slot = 0; slot < pids_.size(); ++slot) kill(slot);
  }
  bool start(std::size_t slot, int rounds) {
    const auto role =
        std::to_string(slot) + " " + std::to_string(pids_.size()) + " " + std::to_string(rounds);
    setenv("SORN_SUITE_WRITER", role.c_str(), 1);
    std::string self = "/proc/self/exe";
    char* argv[] = {self.data(), nullptr};
    return posix_spawn(&pids_[slot], argv[0], nullptr, nullptr, argv, environ) == 0;
  }
  // How the writer ended: "killed" by SIGKILL, or "exit N" when it stopped by itself.
  std::string kill(std::size_t slot) {
    if (pids_[slot] > 0) ::kill(pids_[slot], SIGKILL);
    return wait(slot);
  }
  std::string wait(std::size_t slot) {
    int status = 0;
    const pid_t pid = std::exchange(pids_[slot], -1);
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return "lost";
    if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGKILL ? "killed" : "signal";
    return "exit " + std::to_string(WEXITSTATUS(status));
  }

 private:
  std::vector<pid_t> pids_;
};

// Writers killed at random moments of their write loop and started again, then run to
// their end together: no writer ever read a value nobody wrote, half a record or a count
// that went back, no count stored ever went back, restarted writers carry on from what
// was stored, none of the writes of the last run was lost, and SQLite finds the file intact.
TEST(SuiteKillStress, WritersKilledMidWriteLoseNothingAndLeaveTheSuiteIntact) {
  constexpr int kWriters = 3, kRounds = 40;
  testsupport::TempDataDir dir;
  std::vector<std::int64_t> seen(kWriters, 0);
  const auto counts = [] {
    std::vector<std::int64_t> stored;
    const auto suite = platform::suite::Suite::open(kSuite);
    for (int i = 0; i < kWriters; ++i)
      stored.push_back(suite ? suite->integer("counter." + std::to_string(i)).value_or(0) : -1);
    return stored;
  };
  const auto expectNoCountWentBack = [&] {
    const auto now = counts();
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_GE(now[i], seen[i]) << "writer " << i;
    seen = now;
  };
  Writers writers(kWriters);
  for (std::size_t i = 0; i < kWriters; ++i) ASSERT_TRUE(writers.start(i, 0));
  std::mt19937 random(20240607);
  for (int kill = 0; kill < 24; ++kill) {
    // Only a writer in its write loop is killed; one that stopped by itself never gets there.
    const auto victim = static_cast<std::size_t>(random() % kWriters);
    for (const std::int64_t before = seen[victim]; seen[victim] == before; expectNoCountWentBack())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20'000));
    ASSERT_EQ(writers.kill(victim), "killed") << "a writer stopped by itself";
    expectNoCountWentBack();
    ASSERT_TRUE(writers.start(victim, 0));
  }
  for (std::size_t i = 0; i < kWriters; ++i) EXPECT_EQ(writers.kill(i), "killed");
  expectNoCountWentBack();
  for (std::size_t i = 0; i < kWriters; ++i) ASSERT_TRUE(writers.start(i, kRounds));
  for (std::size_t i = 0; i < kWriters; ++i) EXPECT_EQ(writers.wait(i), "exit 0");
  for (auto& count : seen) count += kRounds;
  EXPECT_EQ(counts(), seen);
  EXPECT_EQ(testsupport::rawSql(dir.suiteFile(kSuite), "PRAGMA integrity_check"), "ok");
}

// Writers that start together on a suite nobody has made yet each open it.
TEST(SuiteKillStress, WritersStartingTogetherOnAFreshSuiteAllOpenIt) {
  for (int round = 0; round < 100; ++round) {
    testsupport::TempDataDir dir;
    Writers writers(8);
    for (std::size_t i = 0; i < 8; ++i) ASSERT_TRUE(writers.start(i, 1));
    for (std::size_t i = 0; i < 8; ++i) ASSERT_EQ(writers.wait(i), "exit 0") << "round " << round;
  }
}

}  // namespace
