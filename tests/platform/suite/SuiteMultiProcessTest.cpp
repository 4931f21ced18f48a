#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/suite/Suite.h"
#include "tests/support/TempDataDir.h"

extern char** environ;

namespace {

// Several processes write and read one suite at the same time: no write is lost, no
// reader sees a value nobody wrote, and the database stays intact.
TEST(SuiteMultiProcess, ConcurrentWritersLoseNothingAndReadersSeeOnlyWrittenValues) {
  testsupport::TempDataDir dir;
  const std::string suite = "group.test.multiprocess";
  constexpr int kWorkers = 4;
  constexpr int kCount = 250;

  std::vector<pid_t> children;
  for (int i = 0; i < kWorkers; ++i) {
    std::vector<std::string> args = {SORN_SUITE_WORKER, suite, std::to_string(i), std::to_string(kWorkers),
                                     std::to_string(kCount)};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, SORN_SUITE_WORKER, nullptr, nullptr, argv.data(), environ), 0);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker failed, status " << status;
  }

  auto store = platform::suite::Suite::open(suite);
  ASSERT_TRUE(store);
  for (int i = 0; i < kWorkers; ++i) EXPECT_EQ(store->integer("counter." + std::to_string(i)), kCount);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(dir.suiteFile(suite).c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "ok");
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

// Threads of one process share the connection behind their handles.
TEST(SuiteMultiProcess, ThreadsShareOneConnectionSafely) {
  testsupport::TempDataDir dir;
  const std::string suite = "group.test.threads";
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &suite] {
      for (int n = 1; n <= 200; ++n) {
        auto store = platform::suite::Suite::open(suite);
        ASSERT_TRUE(store);
        store->setInteger("thread." + std::to_string(t), n);
        EXPECT_TRUE(store->integer("thread." + std::to_string(t)));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  auto store = platform::suite::Suite::open(suite);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(store->integer("thread." + std::to_string(t)), 200);
}

}  // namespace
