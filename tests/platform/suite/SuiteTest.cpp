#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "platform/suite/MoveAsideUnreadable.h"
#include "platform/suite/Suite.h"
#include "tests/support/TempDataDir.h"

namespace {

namespace fs = std::filesystem;
using platform::suite::StoredValue;
using platform::suite::Suite;
using platform::suite::SuiteChange;

constexpr const char* kSuite = "group.test.suite";
// Tabs, a four-byte character and an embedded NUL: stored and read back byte for byte.
const std::string kOddText = std::string("tab\there \xF0\x9F\x8E\xA7 nul") + '\0' + "end";

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Reads a key straight through SQLite, as another program (or the sqlite3 tool) would.
std::string rawValue(const fs::path& file, const std::string& key) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  std::string result = "<missing>";
  if (sqlite3_prepare_v2(db, "SELECT typeof(value) || ':' || value FROM entries WHERE key = ?1", -1, &stmt,
                         nullptr) == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(stmt) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return result;
}

void rawExec(const fs::path& file, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

std::string contentsOf(const fs::path& file) {
  std::string contents(fs::file_size(file), '\0');
  std::ifstream(file, std::ios::binary).read(contents.data(), static_cast<std::streamsize>(contents.size()));
  return contents;
}

TEST(Suite, TypedValuesRoundTripAndOtherTypesReadAsMissing) {
  testsupport::TempDataDir dir;
  auto suite = Suite::open(kSuite);
  ASSERT_TRUE(suite);

  const std::int64_t big = std::numeric_limits<std::int64_t>::max();
  const std::int64_t small = std::numeric_limits<std::int64_t>::min();
  suite->setInteger("i.max", big);
  suite->setInteger("i.min", small);
  suite->setInteger("i.neg", -2);
  suite->setDouble("d.frac", 1700000000.5);
  suite->setString("s.empty", "");
  suite->setString("s.odd", kOddText);
  suite->setBool("b.true", true);
  suite->setBool("b.false", false);

  auto again = Suite::open(kSuite);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->integer("i.max"), big);
  EXPECT_EQ(again->integer("i.min"), small);
  EXPECT_EQ(again->integer("i.neg"), -2);
  EXPECT_EQ(again->doubleValue("d.frac"), 1700000000.5);
  EXPECT_EQ(again->string("s.empty"), "");
  EXPECT_EQ(again->string("s.odd"), kOddText);
  EXPECT_EQ(again->boolValue("b.true"), true);
  EXPECT_EQ(again->boolValue("b.false"), false);

  // Missing keys and values of another type read as nothing; a double read takes an integer.
  EXPECT_FALSE(again->integer("nothing"));
  EXPECT_FALSE(again->doubleValue("nothing"));
  EXPECT_FALSE(again->string("nothing"));
  EXPECT_FALSE(again->boolValue("nothing"));
  EXPECT_FALSE(again->integer("d.frac"));
  EXPECT_FALSE(again->integer("s.empty"));
  EXPECT_FALSE(again->string("i.neg"));
  EXPECT_FALSE(again->doubleValue("s.odd"));
  EXPECT_EQ(again->doubleValue("i.neg"), -2.0);

  // Overwriting changes the type with the value; removing makes the key missing.
  suite->setString("i.neg", "now text");
  EXPECT_FALSE(again->integer("i.neg"));
  EXPECT_EQ(again->string("i.neg"), "now text");
  suite->remove("i.neg");
  suite->remove("never.there");
  EXPECT_FALSE(again->string("i.neg"));
  EXPECT_EQ(rawValue(dir.suiteFile(kSuite), "i.max"), "integer:9223372036854775807");
  EXPECT_EQ(rawValue(dir.suiteFile(kSuite), "i.neg"), "<missing>");
}

TEST(Suite, FolderAndFilesArePrivateToTheUser) {
  testsupport::TempDataDir dir;
  ::umask(0022);
  auto suite = Suite::open(kSuite);
  ASSERT_TRUE(suite);
  suite->setString("k", "v");
  EXPECT_EQ(modeOf(dir.suiteFolder(kSuite)), 0700);
  EXPECT_EQ(modeOf(dir.suiteFile(kSuite)), 0600);
  EXPECT_EQ(modeOf(fs::path(dir.suiteFile(kSuite).string() + "-wal")), 0600);
  EXPECT_EQ(Suite::fileFor(kSuite), dir.suiteFile(kSuite));
}

TEST(Suite, RecordIsWrittenWholeOrNotAtAll) {
  testsupport::TempDataDir dir;
  const fs::path file = dir.suiteFile(kSuite);
  auto suite = Suite::open(kSuite);
  ASSERT_TRUE(suite);
  const SuiteChange first[] = {{"r.count", StoredValue::ofInteger(1)},
                               {"r.name", StoredValue::ofText("one")},
                               {"r.gone", StoredValue::ofReal(0.5)},
                               {"r.gone", std::nullopt}};
  EXPECT_TRUE(suite->write(first));
  const std::string_view keys[] = {"r.name", "r.count", "r.gone", "r.never"};
  const auto values = suite->read(keys);
  ASSERT_EQ(values.size(), 4U);
  EXPECT_EQ(values[0].asText(), "one");
  EXPECT_EQ(values[1].asInteger(), 1);
  EXPECT_EQ(values[2].type, StoredValue::Type::other);
  EXPECT_EQ(values[3].type, StoredValue::Type::other);

  // A statement that fails in the middle (here through triggers another program put
  // in) leaves none of the record written, and every failed write says so.
  rawExec(file,
          "CREATE TRIGGER refuse_insert BEFORE INSERT ON entries WHEN NEW.key = 'r.refused' "
          "BEGIN SELECT RAISE(ABORT, 'refused'); END;"
          "CREATE TRIGGER refuse_delete BEFORE DELETE ON entries WHEN OLD.key = 'r.count' "
          "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  const SuiteChange refusedSet[] = {{"r.count", StoredValue::ofInteger(2)},
                                    {"r.refused", StoredValue::ofInteger(2)},
                                    {"r.name", StoredValue::ofText("two")}};
  const SuiteChange refusedRemove[] = {{"r.name", StoredValue::ofText("two")}, {"r.count", std::nullopt}};
  EXPECT_FALSE(suite->write(refusedSet));
  EXPECT_FALSE(suite->write(refusedRemove));
  EXPECT_FALSE(suite->setInteger("r.refused", 3));
  EXPECT_FALSE(suite->remove("r.count"));
  EXPECT_EQ(rawValue(file, "r.count"), "integer:1");
  EXPECT_EQ(rawValue(file, "r.name"), "text:one");
  EXPECT_EQ(rawValue(file, "r.refused"), "<missing>");

  // A failed record is rolled back, so the connection goes on writing.
  const SuiteChange next[] = {{"r.name", StoredValue::ofText("three")}};
  EXPECT_TRUE(suite->write(next));
  EXPECT_TRUE(suite->setInteger("r.other", 4));
  EXPECT_EQ(rawValue(file, "r.name"), "text:three");
}

// As where /home links to /var/home: the folders above the suite's own may be links.
TEST(Suite, OpensThroughLinkedFoldersAboveItsOwn) {
  testsupport::TempDataDir dir;
  const fs::path linked = dir.root() / "linked";
  fs::create_directory_symlink(dir.dataHome(), linked);
  setenv("XDG_DATA_HOME", linked.c_str(), 1);  // put back by the TempDataDir
  auto suite = Suite::open(kSuite);
  ASSERT_TRUE(suite);
  EXPECT_TRUE(suite->setString("k", "through the link"));
  EXPECT_EQ(Suite::fileFor(kSuite), linked / "app-groups" / kSuite / "suite.sqlite3");
  EXPECT_EQ(rawValue(dir.suiteFile(kSuite), "k"), "text:through the link");
}

// A file SQLite cannot read is kept beside a fresh suite, with its log, under a name
// that says why.
TEST(Suite, UnreadableFileIsMovedAsideAndAFreshSuiteStarts) {
  struct Case {
    const char* name;
    void (*make)(const fs::path& file);
  };
  const Case cases[] = {
      {"a text file",
       [](const fs::path& file) { std::ofstream(file) << "this is no database, just some text"; }},
      {"a database with a page overwritten",
       [](const fs::path& file) {
         rawExec(file,
                 "CREATE TABLE entries (key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;"
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                 "INSERT INTO entries SELECT 'k' || i, printf('%0100d', i) FROM n;");
         std::fstream page(file, std::ios::in | std::ios::out | std::ios::binary);
         page.seekp(2 * 4096);
         page << std::string(4096, 'Z');
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDataDir dir;
    const fs::path folder = dir.suiteFolder(kSuite), file = dir.suiteFile(kSuite);
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all);
    c.make(file);
    std::ofstream(file.string() + "-wal") << "a log left beside it";
    for (const char* suffix : {"", "-wal"})
      fs::permissions(file.string() + suffix, fs::perms::owner_read | fs::perms::owner_write);
    const std::string unreadable = contentsOf(file);

    auto suite = Suite::open(kSuite);
    ASSERT_TRUE(suite);
    EXPECT_FALSE(suite->string("k1"));
    EXPECT_TRUE(suite->setString("k", "fresh"));
    EXPECT_EQ(rawValue(file, "k"), "text:fresh");
    std::vector<std::string> aside;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename();
      if (name.rfind("suite.sqlite3.unreadable-", 0) == 0) aside.push_back(name);
    }
    std::sort(aside.begin(), aside.end());
    ASSERT_GE(aside.size(), 2U);
    EXPECT_TRUE(std::regex_match(aside[0], std::regex(R"(suite\.sqlite3\.unreadable-[0-9]{10})")))
        << aside[0];
    EXPECT_EQ(contentsOf(folder / aside[0]), unreadable);
    EXPECT_EQ(contentsOf(folder / (aside[0] + "-wal")), "a log left beside it");

    // Nothing is moved once the path names another file than the one found unreadable.
    struct stat st {};
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_FALSE(platform::suite::moveAsideUnreadable(file, st.st_dev, st.st_ino + 1));
    EXPECT_EQ(rawValue(file, "k"), "text:fresh");
  }
}

TEST(Suite, CannotBeOpenedWhenContainerIsUnusableOrNotPrivate) {
  struct Case {
    const char* name;
    void (*breakIt)(const testsupport::TempDataDir&);
  };
  const Case cases[] = {
      {"folder readable by the group",
       [](const testsupport::TempDataDir& d) {
         fs::create_directories(d.suiteFolder(kSuite));
         fs::permissions(d.suiteFolder(kSuite),
                         fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
       }},
      {"folder read-only",
       [](const testsupport::TempDataDir& d) {
         fs::create_directories(d.suiteFolder(kSuite));
         fs::permissions(d.suiteFolder(kSuite), fs::perms::owner_read | fs::perms::owner_exec);
       }},
      {"file readable by others",
       [](const testsupport::TempDataDir& d) {
         fs::create_directories(d.suiteFolder(kSuite));
         fs::permissions(d.suiteFolder(kSuite), fs::perms::owner_all);
         std::ofstream(d.suiteFile(kSuite)).close();
         fs::permissions(d.suiteFile(kSuite),
                         fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
       }},
      {"a file where the folder should be",
       [](const testsupport::TempDataDir& d) {
         fs::create_directories(d.suiteFolder(kSuite).parent_path());
         std::ofstream(d.suiteFolder(kSuite)) << "x";
       }},
      {"folder is a symbolic link",
       [](const testsupport::TempDataDir& d) {
         fs::create_directories(d.suiteFolder(kSuite).parent_path());
         fs::create_directory(d.root() / "elsewhere");
         fs::permissions(d.root() / "elsewhere", fs::perms::owner_all);
         fs::create_directory_symlink(d.root() / "elsewhere", d.suiteFolder(kSuite));
       }},
      {"file is a symbolic link",
       [](const testsupport::TempDataDir& d) {
         fs::create_directories(d.suiteFolder(kSuite));
         fs::permissions(d.suiteFolder(kSuite), fs::perms::owner_all);
         fs::create_symlink(d.root() / "elsewhere.sqlite3", d.suiteFile(kSuite));
       }},
      {"folder owned by someone else",
       [](const testsupport::TempDataDir& d) {
         fs::create_directories(d.suiteFolder(kSuite));
         fs::permissions(d.suiteFolder(kSuite), fs::perms::owner_all);
         // Only root can hand a folder to another user; others get a folder they own,
         // which the group-readable case already covers.
         if (geteuid() == 0) {
           EXPECT_EQ(chown(d.suiteFolder(kSuite).c_str(), 65534, 65534), 0);
         } else {
           fs::permissions(d.suiteFolder(kSuite), fs::perms::owner_all | fs::perms::others_exec);
         }
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDataDir dir;
    c.breakIt(dir);
    EXPECT_FALSE(Suite::open(kSuite));
    EXPECT_FALSE(fs::exists(dir.root() / "elsewhere.sqlite3"));
    EXPECT_FALSE(fs::exists(dir.root() / "elsewhere" / "suite.sqlite3"));
  }
  testsupport::TempDataDir dir;
  for (const char* badName : {"", ".", "..", "a/b", "../escape"}) {
    EXPECT_FALSE(Suite::open(badName)) << badName;
  }
}

TEST(Suite, ReplacedOrRemovedFileIsReopenedNotWrittenThroughStaleHandle) {
  testsupport::TempDataDir dir;
  const fs::path file = dir.suiteFile(kSuite);
  auto first = Suite::open(kSuite);
  ASSERT_TRUE(first);
  first->setString("k", "old");

  // Another program removes the store; the next open creates a fresh one and writes there.
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(file.string() + suffix);
  auto second = Suite::open(kSuite);
  ASSERT_TRUE(second);
  EXPECT_FALSE(second->string("k"));
  second->setString("k", "fresh");
  EXPECT_EQ(rawValue(file, "k"), "text:fresh");

  // A store moved into place over the old one is the one read from then on.
  const fs::path staged = dir.root() / "staged.sqlite3";
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(staged.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE entries (key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;"
                           "INSERT INTO entries VALUES ('k', 'replaced');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    fs::permissions(staged, fs::perms::owner_read | fs::perms::owner_write);
  }
  for (const char* suffix : {"-wal", "-shm"}) fs::remove(file.string() + suffix);
  fs::rename(staged, file);
  auto third = Suite::open(kSuite);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->string("k"), "replaced");
  third->setString("k", "written after the swap");

  // Letting go of the handles on the old file must not delete the new file's log.
  first.reset();
  second.reset();
  EXPECT_EQ(rawValue(file, "k"), "text:written after the swap");
}

TEST(Suite, WriteAheadLogStaysBounded) {
  testsupport::TempDataDir dir;
  const std::string payload(4096, 'x');
  for (int i = 0; i < 3000; ++i) {
    auto suite = Suite::open(kSuite);
    ASSERT_TRUE(suite);
    suite->setString("blob." + std::to_string(i % 50), payload);
  }
  auto walSize = fs::file_size(dir.suiteFile(kSuite).string() + "-wal");
  EXPECT_LT(walSize, 4u * 1024 * 1024) << "the log grew with every write";
}

}  // namespace
