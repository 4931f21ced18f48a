#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/suite/Suite.h"
#include "tests/support/TempDataDir.h"

extern char** environ;

namespace {

constexpr int kWriters = 3;
const std::string kSuite = "group.test.killstress";

// Writer processes, one slot each. Any still running when the object goes is killed,
// so that a failed assertion never leaves a writer behind.
class Writers {
 public:
  explicit Writers(int count) : pids_(static_cast<std::size_t>(count), -1) {}
  ~Writers() {
    for (std::size_t slot = 0; slot < pids_.size(); ++slot) static_cast<void>(kill(slot));
  }
  Writers(const Writers&) = delete;
  Writers& operator=(const Writers&) = delete;

  // Starts writer `slot` for that many rounds (0: until killed); false if it cannot start.
  bool start(std::size_t slot, int rounds) {
    std::vector<std::string> args = {SORN_STRESS_SUITE_WRITER, kSuite, std::to_string(slot),
                                     std::to_string(kWriters), std::to_string(rounds)};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return posix_spawn(&pids_[slot], SORN_STRESS_SUITE_WRITER, nullptr, nullptr, argv.data(), environ) == 0;
  }
  bool running(std::size_t slot) const {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pids_[slot]), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
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

std::string integrityCheck(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  std::string result;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  const auto append = [](void* out, int /*columns*/, char** values, char** /*names*/) {
    *static_cast<std::string*>(out) += values[0] != nullptr ? values[0] : "";
    return 0;
  };
  if (sqlite3_exec(db, "PRAGMA integrity_check", append, &result, nullptr) != SQLITE_OK)
    result = "cannot check";
  sqlite3_close(db);
  return result;
}

// Writers in several processes, killed with SIGKILL at random moments of their write
// loop and started again: no writer ever read a value nobody wrote or a count that
// went back (each checks after every write), no count stored ever went back, restarted
// writers carry on from what was stored, and the database passes SQLite's integrity check.
TEST(SuiteKillStress, WritersKilledMidWriteLoseNothingAndLeaveTheSuiteIntact) {
  testsupport::TempDataDir dir;
  // The suite is made before the writers start; processes making it together are the next test's.
  std::vector<std::int64_t> seen = counts();
  ASSERT_EQ(seen, std::vector<std::int64_t>(kWriters, 0));
  Writers writers(kWriters);
  for (std::size_t i = 0; i < kWriters; ++i) ASSERT_TRUE(writers.start(i, 0));
  const auto expectNoCountWentBack = [&seen] {
    const auto now = counts();
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_GE(now[i], seen[i]) << "writer " << i;
    seen = now;
  };
  std::mt19937 random(20240607);
  for (int kill = 0; kill < 24; ++kill) {
    const auto victim = static_cast<std::size_t>(random() % kWriters);
    // Kill only a writer that is in its write loop, not one still starting up.
    for (const std::int64_t before = seen[victim]; seen[victim] == before;) {
      ASSERT_TRUE(writers.running(victim)) << "a writer stopped by itself: " << writers.wait(victim);
      expectNoCountWentBack();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20'000));
    ASSERT_EQ(writers.kill(victim), "killed") << "a writer stopped by itself";
    expectNoCountWentBack();
    ASSERT_TRUE(writers.start(victim, 0));
  }
  for (std::size_t i = 0; i < kWriters; ++i)
    EXPECT_EQ(writers.kill(i), "killed") << "a writer stopped by itself";
  expectNoCountWentBack();

  constexpr int kRounds = 20;
  for (std::size_t i = 0; i < kWriters; ++i) ASSERT_TRUE(writers.start(i, kRounds));
  for (std::size_t i = 0; i < kWriters; ++i) EXPECT_EQ(writers.wait(i), "exit 0");
  const auto after = counts();
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(after[i], seen[i] + kRounds) << "writer " << i;
  EXPECT_EQ(integrityCheck(dir.suiteFile(kSuite)), "ok");
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
