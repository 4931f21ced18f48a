#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/suite/Suite.h"
#include "tests/support/TempDataDir.h"

extern char** environ;

namespace {

constexpr int kWriters = 3;
const std::string kSuite = "group.test.killstress";

pid_t spawnWriter(int index, int rounds) {
  std::vector<std::string> args = {SORN_STRESS_SUITE_WRITER, kSuite, std::to_string(index),
                                   std::to_string(kWriters), std::to_string(rounds)};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawn(&pid, SORN_STRESS_SUITE_WRITER, nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// How a writer ended: "killed" by SIGKILL, or "exit N" when it stopped by itself.
std::string reap(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return "lost";
  if (WIFSIGNALED(status))
    return WTERMSIG(status) == SIGKILL ? "killed" : "signal " + std::to_string(WTERMSIG(status));
  return "exit " + std::to_string(WEXITSTATUS(status));
}

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
  std::vector<pid_t> writers;
  for (int i = 0; i < kWriters; ++i) writers.push_back(spawnWriter(i, 0));
  const auto expectNoCountWentBack = [&seen] {
    const auto now = counts();
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_GE(now[i], seen[i]) << "writer " << i;
    seen = now;
  };
  std::mt19937 random(20240607);
  for (int kill = 0; kill < 24; ++kill) {
    const auto victim = static_cast<std::size_t>(random() % kWriters);
    ASSERT_GT(writers[victim], 0);
    // Kill only a writer that is in its write loop, not one still starting up.
    for (const std::int64_t before = seen[victim]; seen[victim] == before;) {
      int status = 0;
      ASSERT_EQ(waitpid(writers[victim], &status, WNOHANG), 0) << "a writer stopped by itself";
      expectNoCountWentBack();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20'000));
    ::kill(writers[victim], SIGKILL);
    ASSERT_EQ(reap(writers[victim]), "killed") << "a writer stopped by itself";
    expectNoCountWentBack();
    writers[victim] = spawnWriter(static_cast<int>(victim), 0);
  }
  for (pid_t pid : writers) ::kill(pid, SIGKILL);
  for (pid_t pid : writers) EXPECT_EQ(reap(pid), "killed") << "a writer stopped by itself";
  expectNoCountWentBack();

  constexpr int kRounds = 20;
  for (int i = 0; i < kWriters; ++i) writers[static_cast<std::size_t>(i)] = spawnWriter(i, kRounds);
  for (pid_t pid : writers) EXPECT_EQ(reap(pid), "exit 0");
  const auto after = counts();
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(after[i], seen[i] + kRounds) << "writer " << i;
  EXPECT_EQ(integrityCheck(dir.suiteFile(kSuite)), "ok");
}

// Writers that start together on a suite nobody has made yet each open it: none is
// turned away while another is making it.
TEST(SuiteKillStress, WritersStartingTogetherOnAFreshSuiteAllOpenIt) {
  for (int round = 0; round < 100; ++round) {
    testsupport::TempDataDir dir;
    std::vector<pid_t> writers;
    for (int i = 0; i < 8; ++i) writers.push_back(spawnWriter(i, 1));
    for (pid_t pid : writers) ASSERT_EQ(reap(pid), "exit 0") << "round " << round;
  }
}

}  // namespace
