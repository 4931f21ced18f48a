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

// Starts the worker with these arguments; 0 when it could not be started.
pid_t spawnWorker(std::vector<std::string> args) {
  std::string program = SORN_SUITE_WORKER;
  std::vector<char*> argv = {program.data()};
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawn(&pid, SORN_SUITE_WORKER, nullptr, nullptr, argv.data(), environ) == 0 ? pid : 0;
}

int waitForExit(pid_t pid) {
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  return status;
}

// Several processes write and read one suite at the same time: no write is lost, no
// reader sees a value nobody wrote nor half a record, and the database stays intact.
TEST(SuiteMultiProcess, ConcurrentWritersLoseNothingAndReadersSeeOnlyWrittenValues) {
  testsupport::TempDataDir dir;
  const std::string suite = "group.test.multiprocess";
  constexpr int kWorkers = 4;
  constexpr int kCount = 250;

  std::vector<pid_t> children;
  for (int i = 0; i < kWorkers; ++i) {
    children.push_back(
        spawnWorker({suite, std::to_string(i), std::to_string(kWorkers), std::to_string(kCount)}));
    ASSERT_NE(children.back(), 0);
  }
  for (pid_t pid : children) {
    const int status = waitForExit(pid);
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

// A record larger than the process may write fails as a whole, like one on a full
// disk: the process is not killed by SIGXFSZ, and a program's own handler is kept.
TEST(SuiteMultiProcess, RecordOverTheFileSizeLimitFailsAndTheProcessLivesOn) {
  for (const char* handler : {"", "--own-handler"}) {
    SCOPED_TRACE(handler);
    testsupport::TempDataDir dir;
    std::vector<std::string> args = {"--over-file-limit", "group.test.limit", std::to_string(32 * 1024),
                                     std::to_string(1024 * 1024)};
    if (*handler != '\0') args.emplace_back(handler);
    const pid_t pid = spawnWorker(args);
    ASSERT_NE(pid, 0);
    const int status = waitForExit(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                : "status " + std::to_string(status));
  }
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
