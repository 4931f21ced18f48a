// The suite shared by several processes: writers that run together, are killed with
// SIGKILL mid-write and start together on a fresh suite.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/suite/Suite.h"
#include "tests/support/RawSql.h"
#include "tests/support/TempDataDir.h"

extern char** environ;

namespace {

constexpr int kWriters = 3;
const std::string kSuite = "group.test.killstress";

// Writer processes, one slot each. Any still running when the object goes is killed,
// so that a failed assertion never leaves a writer behind.
class Writers {
 public:
  explicit Writers(std::size_t count) : pids_(count, -1) {}
  ~Writers() {
    for (std::size_t slot = 0; slot < pids_.size(); ++slot) static_cast<void>(kill(slot));
  }
  Writers(const Writers&) = delete;
  Writers& operator=(const Writers&) = delete;

  // Starts writer `slot` for that many rounds (0: until killed); false if it cannot start.
  bool start(std::size_t slot, int rounds) {
    std::string args[] = {SORN_STRESS_SUITE_WRITER, kSuite, std::to_string(slot), std::to_string(kWriters),
                          std::to_string(rounds)};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), args[4].data(), nullptr};
    return posix_spawn(&pids_[slot], argv[0], nullptr, nullptr, argv, environ) == 0;
  }
  std::string kill(std::size_t slot) {
    if (pids_[slot] > 0) ::kill(pids_[slot], SIGKILL);
    return wait(slot);
  }
  // How the writer ended: "killed" by SIGKILL, or "exit N" when it stopped by itself.
  std::string wait(std::size_t slot) {
    int status = 0;
    const pid_t pid = std::exchange(pids_[slot], -1);
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return "lost";
    if (WIFSIGNALED(status))
      return WTERMSIG(status) == SIGKILL ? "killed" : "signal " + std::to_string(WTERMSIG(status));
    return "exit " + std::to_string(WEXITSTATUS(status));
  }

 private:
  std::vector<pid_t> pids_;
};

// Each writer's count, which must never go back.
std::vector<std::int64_t> counts() {
  std::vector<std::int64_t> counts;
  const auto suite = platform::suite::Suite::open(kSuite);
  for (int i = 0; i < kWriters; ++i)
    counts.push_back(suite ? suite->integer("counter." + std::to_string(i)).value_or(0) : -1);
  return counts;
}

// Writers on a fresh suite, killed at random moments of their write loop and started
// again, then run to their end together: no writer ever read a value nobody wrote,
// half a record or a count that went back (each checks after every write), no count
// stored ever went back, restarted writers carry on from what was stored, none of the
// writes of the last run was lost, and the database passes SQLite's integrity check.
TEST(SuiteKillStress, WritersKilledMidWriteLoseNothingAndLeaveTheSuiteIntact) {
  testsupport::TempDataDir dir;
  std::vector<std::int64_t> seen(kWriters, 0);
  const auto expectNoCountWentBack = [&seen] {
    const auto now = counts();
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_GE(now[i], seen[i]) << "writer " << i;
    seen = now;
  };
  Writers writers(kWriters);
  for (std::size_t i = 0; i < kWriters; ++i) ASSERT_TRUE(writers.start(i, 0));
  std::mt19937 random(20240607);
  for (int kill = 0; kill < 24; ++kill) {
    // Kill only a writer that is in its write loop, not one still starting up; one
    // that stopped by itself never gets there, and the test times out.
    const auto victim = static_cast<std::size_t>(random() % kWriters);
    for (const std::int64_t before = seen[victim]; seen[victim] == before; expectNoCountWentBack())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20'000));
    ASSERT_EQ(writers.kill(victim), "killed") << "a writer stopped by itself";
    expectNoCountWentBack();
    ASSERT_TRUE(writers.start(victim, 0));
  }
  for (std::size_t i = 0; i < kWriters; ++i)
    EXPECT_EQ(writers.kill(i), "killed") << "a writer stopped by itself";
  expectNoCountWentBack();

  constexpr int kRounds = 40;
  for (std::size_t i = 0; i < kWriters; ++i) ASSERT_TRUE(writers.start(i, kRounds));
  for (std::size_t i = 0; i < kWriters; ++i) EXPECT_EQ(writers.wait(i), "exit 0");
  for (auto& count : seen) count += kRounds;
  EXPECT_EQ(counts(), seen);
  EXPECT_EQ(testsupport::rawSql(dir.suiteFile(kSuite), "PRAGMA integrity_check"), "ok");
}

// Writers that start together on a suite nobody has made yet each open it: none is
// turned away while another is making it.
TEST(SuiteKillStress, WritersStartingTogetherOnAFreshSuiteAllOpenIt) {
  for (int round = 0; round < 100; ++round) {
    testsupport::TempDataDir dir;
    Writers writers(8);
    for (std::size_t i = 0; i < 8; ++i) ASSERT_TRUE(writers.start(i, 1));
    for (std::size_t i = 0; i < 8; ++i) ASSERT_EQ(writers.wait(i), "exit 0") << "round " << round;
  }
}

}  // namespace
