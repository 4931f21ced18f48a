// The app-group store: the suite, the credentials the broadcast extension loads from it,
// and several processes writing it together, killed with SIGKILL mid-write. The writers
// are this program started again with SORN_SUITE_WRITER="INDEX WRITERS ROUNDS".
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>

#include "broadcast/ScreenShareStore.h"
#include "platform/suite/MoveAsideUnreadable.h"
#include "platform/suite/Suite.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/RawSql.h"
#include "tests/support/TempDataDir.h"
#include "widgets/StatsProvider.h"

namespace {

namespace fs = std::filesystem;
namespace keys = shared::keys;
using platform::suite::StoredValue;
using platform::suite::Suite;
using platform::suite::SuiteChange;
using testsupport::rawSql;
using testsupport::TempDataDir;

constexpr const char* kSuite = shared::kSuiteName;

// The whole suite as another program reads it: "key=type:value" for each entry, by key.
std::string rawStore(const TempDataDir& dir) {
  return rawSql(dir.suiteFile(kSuite),
                "SELECT group_concat(key || '=' || typeof(value) || ':' || value, ' ') "
                "FROM (SELECT * FROM entries ORDER BY key)");
}

// Runs the script with /bin/sh in the data folder's root, the suite's folder as $F and
// the one above it as $A; `staged SQL` makes a private suite database ./staged with that
// SQL run in it. What it prints.
std::string shell(const TempDataDir& dir, const std::string& script) {
  return testsupport::outputOf(
      "cd " + dir.root().string() + " && A=data/app-groups F=$A/" + kSuite +
      " && staged() { sqlite3 staged \"CREATE TABLE entries (key TEXT PRIMARY KEY NOT "
      "NULL, value) WITHOUT ROWID; $1\" && chmod 600 staged; } && " +
      script);
}

// Texts over the bound read as missing; records are written whole or not at all, and a
// failed write says so and leaves the store as it was. How each type reads back is the
// page-message fuzzer's; the bound of a record's read the store-contents fuzzer's.
TEST(Suite, RecordsAreWrittenWholeOrNotAtAll) {
  TempDataDir dir;
  auto suite = Suite::open(kSuite);
  ASSERT_TRUE(suite);
  suite->setInteger("i.neg", -2);
  const SuiteChange first[] = {{"i.neg", StoredValue::ofText("text")},  // another type
                               {"r.name", StoredValue::ofText("one")},
                               {"r.odd", StoredValue::ofText("five!")},
                               {"r.gone", StoredValue::ofReal(0.5)},
                               {"r.gone", std::nullopt}};
  EXPECT_TRUE(suite->write(first));
  const std::string written = "i.neg=text:text r.name=text:one r.odd=text:five!";
  EXPECT_EQ(rawStore(dir), written);
  auto bounded = Suite::open(kSuite, 4);  // texts over 4 bytes read as missing through it
  EXPECT_EQ(bounded->string("i.neg"), "text");
  EXPECT_FALSE(bounded->string("r.odd"));

  // A statement that fails in the middle (here through triggers another program put in)
  // leaves none of the record written.
  EXPECT_EQ(rawSql(dir.suiteFile(kSuite),
                   "CREATE TRIGGER no_insert BEFORE INSERT ON entries WHEN NEW.key = 'r.refused' "
                   "BEGIN SELECT RAISE(ABORT, 'refused'); END;"
                   "CREATE TRIGGER no_delete BEFORE DELETE ON entries WHEN OLD.key = 'i.neg' "
                   "BEGIN SELECT RAISE(ABORT, 'refused'); END;"),
            "<none>");
  const SuiteChange refusedSet[] = {{"r.name", StoredValue::ofText("two")}, {"r.refused", StoredValue{}}};
  const SuiteChange refusedRemove[] = {{"r.name", StoredValue::ofText("two")}, {"i.neg", std::nullopt}};
  EXPECT_FALSE(suite->write(refusedSet));
  EXPECT_FALSE(suite->write(refusedRemove));
  EXPECT_FALSE(suite->setInteger("r.refused", 3));
  EXPECT_FALSE(suite->remove("i.neg"));
  EXPECT_EQ(rawStore(dir), written);
  // A failed record is rolled back, so the connection goes on writing.
  EXPECT_TRUE(suite->remove("r.name"));
  EXPECT_EQ(rawStore(dir), "i.neg=text:text r.odd=text:five!");
}

// Opens only where its folder and file are the user's alone: the folders above may be
// links (as where /home links to /var/home; here in every case), the suite's own folder
// and file may not. A file SQLite cannot read is kept beside a fresh suite, with its log,
// under a name that says why. A file removed or replaced under an open handle is
// reopened, and letting go of the handle on the old file leaves the new one as it is.
TEST(Suite, OpensOnlyAPrivateReadableFileAndAlwaysTheOneNowAtItsPath) {
  // What is there before the open, made by a script after a handle on the suite was
  // opened or not; what comes of it: refused, a fresh suite, one with the unreadable file
  // moved aside, or the file now at the path.
  const std::tuple<const char*, bool, std::string_view, std::string> cases[] = {
      {"nothing there yet", false, "fresh", "true"},
      {"folder readable by the group", false, "refused", "mkdir -p -m 740 $F"},
      {"folder read-only", false, "refused", "mkdir -p -m 500 $F"},
      // Only root can hand a folder to another user; others get a folder open to others.
      {"folder of someone else", false, "refused",
       "mkdir -p -m 700 $F && { chown 65534:65534 $F 2>/dev/null || chmod 701 $F; }"},
      {"file readable by others", false, "refused",
       "mkdir -p -m 700 $F && touch $F/suite.sqlite3 && chmod 604 $F/suite.sqlite3"},
      {"a file where the folder should be", false, "refused", "mkdir -p $A && echo x >$F"},
      {"folder is a link", false, "refused",
       "mkdir -p $A && mkdir -m 700 elsewhere && ln -s $PWD/elsewhere $F"},
      {"file is a link", false, "refused",
       "mkdir -p -m 700 $F && ln -s $PWD/elsewhere.sqlite3 $F/suite.sqlite3"},
      {"a text file", false, "moved aside",
       "umask 077 && mkdir -p $F && cd $F && echo text >suite.sqlite3 && echo log >suite.sqlite3-wal"},
      {"a database with a page overwritten", false, "moved aside",
       "staged 'INSERT INTO entries SELECT value, randomblob(100) FROM generate_series(1, 400)' && "
       "printf %04096d 0 | dd of=staged bs=4096 seek=2 conv=notrunc status=none && mkdir -p -m 700 $F && "
       "mv staged $F/suite.sqlite3 && echo log >$F/suite.sqlite3-wal && chmod 600 $F/*"},
      {"removed under an open handle", true, "fresh", "rm $F/suite.sqlite3*"},
      {"replaced under an open handle", true, "replaced",
       "rm $F/suite.sqlite3* && staged \"INSERT INTO entries VALUES ('k', 'replaced')\" && "
       "mv staged $F/suite.sqlite3"},
  };
  ::umask(0022);
  for (const auto& [name, openedBefore, outcome, prepare] : cases) {
    SCOPED_TRACE(name);
    TempDataDir dir;
    fs::create_directory_symlink(dir.dataHome(), dir.root() / "linked");
    setenv("XDG_DATA_HOME", (dir.root() / "linked").c_str(), 1);  // put back by the TempDataDir
    auto stale = openedBefore ? Suite::open(kSuite) : std::nullopt;
    if (stale) stale->setString("k", "old");
    ASSERT_EQ(shell(dir, prepare + " && echo prepared"), "prepared\n");
    const std::string unreadable = shell(dir, "cat $F/suite.sqlite3 $F/suite.sqlite3-wal 2>/dev/null");
    auto suite = Suite::open(kSuite);
    ASSERT_EQ(suite.has_value(), outcome != "refused");
    EXPECT_EQ(shell(dir, "ls elsewhere.sqlite3 elsewhere/suite.sqlite3 2>/dev/null"), "");
    EXPECT_TRUE(suite || !broadcast::ScreenShareStore::load());  // nor from a suite refused
    if (!suite) continue;
    EXPECT_EQ(suite->string("k").value_or("none"), outcome == "replaced" ? "replaced" : "none");
    EXPECT_TRUE(suite->setString("k", "v"));
    stale.reset();
    EXPECT_EQ(rawStore(dir), "k=text:v");
    EXPECT_EQ(shell(dir, "stat -c %a $F $F/suite.sqlite3 $F/suite.sqlite3-wal"), "700\n600\n600\n");
    const std::string aside = shell(dir, "cat $F/*.unreadable-*[0-9] $F/*.unreadable-*-wal 2>/dev/null");
    EXPECT_TRUE(aside == (outcome == "moved aside" ? unreadable : ""));  // no bytes printed when not
    if (outcome != "moved aside") continue;
    // Nothing is moved once the path names another file than the one found unreadable.
    struct stat st {};
    ASSERT_EQ(lstat(dir.suiteFile(kSuite).c_str(), &st), 0);
    EXPECT_FALSE(platform::suite::moveAsideUnreadable(dir.suiteFile(kSuite), st.st_dev, st.st_ino + 1));
    EXPECT_EQ(rawStore(dir), "k=text:v");
  }
  TempDataDir dir;
  for (const char* badName : {"", ".", "..", "a/b", "../escape"})
    EXPECT_FALSE(Suite::open(badName)) << badName;
}

TEST(Suite, WriteAheadLogStaysBounded) {
  TempDataDir dir;
  for (int i = 0; i < 3000; ++i)
    Suite::open(kSuite)->setString("blob." + std::to_string(i % 50), std::string(4096, 'x'));
  EXPECT_LT(fs::file_size(dir.suiteFile(kSuite).string() + "-wal"), 4U * 1024 * 1024);
}

// Over its file-size limit a record fails as a whole, like one on a full disk: the
// process is not killed by SIGXFSZ, and a program's own handler is kept.
TEST(Suite, RecordOverTheFileSizeLimitFailsAndTheProcessLivesOn) {
  static volatile std::sig_atomic_t signals = 0;
  for (const bool ownHandler : {false, true}) {
    TempDataDir dir;
    if (ownHandler) std::signal(SIGXFSZ, [](int) { signals = signals + 1; });
    auto suite = Suite::open(kSuite);
    ASSERT_TRUE(suite);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t unlimited = std::exchange(limit.rlim_cur, 32 * 1024);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const SuiteChange record[] = {{"small", StoredValue::ofText("fits")},
                                  {"large", StoredValue::ofText(std::string(1024 * 1024, 'x'))}};
    EXPECT_FALSE(suite->write(record));
    EXPECT_TRUE(suite->setString("k", "v"));
    limit.rlim_cur = unlimited;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_EQ(rawStore(dir), "k=text:v");
    EXPECT_EQ(signals > 0, ownHandler);
  }
}

// Records rewritten whole by another thread (as the app does) are read whole by the
// broadcast's credentials and by the widgets' timeline, through the one connection.
TEST(SharedStore, RecordsRewrittenByAnotherThreadAreReadWhole) {
  TempDataDir dir;
  const auto rewrite = [](std::int64_t i) {
    const std::string n = std::to_string(i % 2);
    return shared::SharedStore::open()->write(shared::StoreChanges()
                                                  .setString(keys::kAccessToken, "tok-" + n)
                                                  .setString(keys::kChannelId, "lounge-" + n)
                                                  .setString(keys::kPrimarySessionId, "voice-" + n)
                                                  .setString(keys::kApiBase, "https://api-" + n)
                                                  .setInteger(keys::kStreakDays, i)
                                                  .setInteger(keys::kVoiceSeconds, 60 * i));
  };
  ASSERT_TRUE(rewrite(0));
  constexpr int kReaders = 4, kRounds = 500;
  std::atomic<bool> stop{false};
  std::atomic<int> failedWrites{0}, torn{0}, completions{0};
  std::jthread app([&] {
    for (int i = 1; !stop; ++i) failedWrites += rewrite(i) ? 0 : 1;
  });
  std::vector<const widgets::WidgetStats*> placeholders(kReaders);
  {
    std::vector<std::jthread> readers;
    for (auto& placeholder : placeholders) {
      readers.emplace_back([&] {
        placeholder = &widgets::WidgetStats::placeholder();
        for (int round = 0; round < kRounds; ++round) {
          const auto loaded = broadcast::ScreenShareStore::load();
          const char n = loaded ? loaded->token.back() : '?';
          torn += !loaded || loaded->channelId.back() != n || loaded->primarySessionId.back() != n ||
                  loaded->apiBase.back() != n;
          widgets::StatsProvider().getTimeline(
              {}, [&](platform::widgethost::Timeline<widgets::StatsEntry> t) {
                const widgets::WidgetStats& stats = t.entries.at(0).stats;
                ++completions;
                torn += stats.voiceSeconds != 60 * stats.streakDays || stats.streakDays < 0 ? 1 : 0;
              });
        }
      });
    }
  }
  stop = true;
  app.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(failedWrites, 0);
  EXPECT_EQ(completions, kReaders * kRounds);
  EXPECT_EQ(placeholders, std::vector(kReaders, placeholders[0]));
}

// Writer `index` keeps its count under "counter.<index>" and, in the same record (written
// through the SharedStore, as the programs write), a payload spanning several pages (so
// that a kill often lands mid-write) whose every byte follows from the index and the
// count. It carries on from the count stored, and after each write reads every writer's
// pair in one snapshot: a count may be missing only before its first write and never goes
// down, and the payload is the one written with it. Runs that many rounds, or until killed
// when 0; 1 at the first failure.
std::string payloadFor(int writer, std::int64_t count) {
  std::string payload = std::to_string(writer) + ":" + std::to_string(count) + ":";
  for (std::int64_t k = 0; payload.size() < 12 * 1024; ++k)
    payload.push_back(char('a' + (writer + count + k) % 26));
  return payload;
}
int write(int index, int writers, int rounds) {
  const auto key = [](const char* name, int writer) { return name + std::to_string(writer); };
  std::vector<std::int64_t> lastSeen(writers, 0);
  std::int64_t count = -1;
  for (int round = 0; rounds == 0 || round < rounds; ++round) {
    const auto store = shared::SharedStore::open(kSuite);
    if (!store) return 1;
    if (count < 0) count = store->integer(key("counter.", index));
    ++count;
    if (!store->write(shared::StoreChanges()
                          .setString(key("payload.", index), payloadFor(index, count))
                          .setInteger(key("counter.", index), count)))
      return 1;
    for (int other = 0; other < writers; ++other) {
      const std::string counter = key("counter.", other), payload = key("payload.", other);
      const auto values = store->read({counter, payload});
      const std::int64_t seen = values.integer(counter);
      if (seen < lastSeen[other] ||
          values.string(payload) != (seen ? std::optional(payloadFor(other, seen)) : std::nullopt))
        return 1;
      lastSeen[other] = seen;
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

// Writer `index` of `writers` for that many rounds: this program started again, told
// its role in the environment it starts with.
void start(std::optional<testsupport::Process>& writer, std::size_t index, std::size_t writers, int rounds) {
  const auto role = std::to_string(index) + " " + std::to_string(writers) + " " + std::to_string(rounds);
  setenv("SORN_SUITE_WRITER", role.c_str(), 1);
  writer.emplace(std::vector<std::string>{fs::read_symlink("/proc/self/exe")});
}

// Writers killed at random moments of their write loop and started again, then run to
// their end together: no writer ever read a value nobody wrote, half a record or a count
// that went back, no count stored ever went back, restarted writers carry on from what
// was stored, none of the writes of the last run was lost, and SQLite finds the file intact.
TEST(SuiteKillStress, WritersKilledMidWriteLoseNothingAndLeaveTheSuiteIntact) {
  constexpr int kWriters = 3, kRounds = 40;
  TempDataDir dir;
  std::vector<std::int64_t> seen(kWriters, 0);
  const auto counts = [] {
    std::vector<std::int64_t> stored;
    const auto suite = Suite::open(kSuite);
    for (int i = 0; i < kWriters; ++i)
      stored.push_back(suite ? suite->integer("counter." + std::to_string(i)).value_or(0) : -1);
    return stored;
  };
  const auto expectNoCountWentBack = [&] {
    const auto now = counts();
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_GE(now[i], seen[i]) << "writer " << i;
    seen = now;
  };
  std::vector<std::optional<testsupport::Process>> writers(kWriters);
  for (std::size_t i = 0; i < kWriters; ++i) start(writers[i], i, kWriters, 0);
  std::mt19937 random(20240607);
  for (int kill = 0; kill < 24; ++kill) {
    // Only a writer in its write loop is killed; one that stopped by itself never gets there.
    const auto victim = static_cast<std::size_t>(random() % kWriters);
    for (const std::int64_t before = seen[victim]; seen[victim] == before; expectNoCountWentBack())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20'000));
    ASSERT_EQ(writers[victim]->end(SIGKILL), "killed") << "a writer stopped by itself";
    expectNoCountWentBack();
    start(writers[victim], victim, kWriters, 0);
  }
  for (auto& writer : writers) EXPECT_EQ(writer->end(SIGKILL), "killed");
  expectNoCountWentBack();
  for (std::size_t i = 0; i < kWriters; ++i) start(writers[i], i, kWriters, kRounds);
  for (auto& writer : writers) EXPECT_EQ(writer->end(), "exit 0");
  for (auto& count : seen) count += kRounds;
  EXPECT_EQ(counts(), seen);
  EXPECT_EQ(rawSql(dir.suiteFile(kSuite), "PRAGMA integrity_check"), "ok");
}

// Writers that start together on a suite nobody has made yet each open it.
TEST(SuiteKillStress, WritersStartingTogetherOnAFreshSuiteAllOpenIt) {
  for (int round = 0; round < 100; ++round) {
    TempDataDir dir;
    std::vector<std::optional<testsupport::Process>> writers(8);
    for (std::size_t i = 0; i < 8; ++i) start(writers[i], i, 8, 1);
    for (auto& writer : writers) ASSERT_EQ(writer->end(), "exit 0") << "round " << round;
  }
}

}  // namespace
