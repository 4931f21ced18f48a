#include "platform/suite/SuiteConnection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/suite/MoveAsideUnreadable.h"

namespace platform::suite {
namespace {

// Long enough that a writer in another process never makes ours give up, short
// enough that a wedged peer cannot hang a caller for good.
constexpr int kBusyTimeoutMs = 10'000;

// Keeps the write-ahead log from growing without bound: after each checkpoint that
// resets it, the log file is truncated back to this size.
constexpr const char* kSetupSql =
    "PRAGMA synchronous = NORMAL;"
    "PRAGMA journal_size_limit = 1048576;"
    "PRAGMA wal_autocheckpoint = 256;"
    "CREATE TABLE IF NOT EXISTS entries (key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;";

class DbLock {
 public:
  explicit DbLock(sqlite3* db) : mutex_(sqlite3_db_mutex(db)) { sqlite3_mutex_enter(mutex_); }
  ~DbLock() { sqlite3_mutex_leave(mutex_); }
  DbLock(const DbLock&) = delete;
  DbLock& operator=(const DbLock&) = delete;

 private:
  sqlite3_mutex* mutex_;
};

bool isPrivateRegularFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// Creates the file private to the user if it is missing, and checks what is there.
bool preparePrivateFile(const std::filesystem::path& file, struct stat& st) {
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = fstat(fd, &st) == 0 && isPrivateRegularFile(st);
  ::close(fd);
  return ok;
}

// Runs one setup step, trying again while another process holds the lock. Switching a
// new file to WAL answers "locked" at once instead of waiting through the busy
// handler, which happens when several processes create the suite at the same moment.
template <typename Step>
int retryWhileBusy(Step step) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  int result = step();
  while ((result == SQLITE_BUSY || result == SQLITE_LOCKED) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    result = step();
  }
  return result;
}

// Runs a pragma whose first answer must be `expected`; any other answer gives `otherwise`.
int runPragmaExpecting(sqlite3* db, const char* pragma, std::string_view expected, int otherwise) {
  return retryWhileBusy([=] {
    sqlite3_stmt* stmt = nullptr;
    int result = sqlite3_prepare_v2(db, pragma, -1, &stmt, nullptr);
    if (result == SQLITE_OK) {
      result = sqlite3_step(stmt);
      if (result == SQLITE_ROW) {
        const auto* answer = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        result = answer != nullptr && std::string_view(answer) == expected ? SQLITE_OK : otherwise;
      }
    }
    sqlite3_finalize(stmt);
    return result;
  });
}

int enableWal(sqlite3* db) {
  return runPragmaExpecting(db, "PRAGMA journal_mode = WAL", "wal", SQLITE_ERROR);
}

// Reads every page of the file once: a page overwritten by something else shows here,
// not later in the middle of a write.
int quickCheck(sqlite3* db) { return runPragmaExpecting(db, "PRAGMA quick_check(1)", "ok", SQLITE_CORRUPT); }

bool isUnreadable(int result) {
  const int primary = result & 0xff;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

// Bound text is not copied: every statement is reset before the call that bound it
// returns, while the caller's text is still alive.
void bindKey(sqlite3_stmt* stmt, std::string_view key) {
  sqlite3_bind_text(stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
}

// Steps a statement that gives no rows and resets it for its next use.
bool runToEnd(sqlite3_stmt* stmt) {
  const int result = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  return result == SQLITE_DONE;
}

StoredValue columnValue(sqlite3_stmt* stmt, std::size_t maxTextBytes) {
  switch (sqlite3_column_type(stmt, 0)) {
    case SQLITE_INTEGER:
      return StoredValue::ofInteger(sqlite3_column_int64(stmt, 0));
    case SQLITE_FLOAT:
      return StoredValue::ofReal(sqlite3_column_double(stmt, 0));
    case SQLITE_TEXT: {
      // The size first, so that a text over the bound is never copied.
      const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0));
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      if (bytes > maxTextBytes || text == nullptr) return {};
      return StoredValue::ofText(std::string_view(text, bytes));
    }
    default:
      return {};
  }
}

}  // namespace

std::shared_ptr<SuiteConnection> SuiteConnection::open(const std::filesystem::path& file) {
  Opening outcome = Opening::failed;
  auto connection = openFile(file, outcome);
  if (outcome != Opening::unreadable) return connection;
  return openFile(file, outcome);
}

std::shared_ptr<SuiteConnection> SuiteConnection::openFile(const std::filesystem::path& file,
                                                           Opening& outcome) {
  outcome = Opening::failed;
  struct stat st {};
  if (!preparePrivateFile(file, st)) return nullptr;

  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW;
  if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::shared_ptr<SuiteConnection> connection(new SuiteConnection(db, st.st_dev, st.st_ino));
  outcome = connection->setUp();
  if (outcome == Opening::opened) return connection;
  if (outcome == Opening::unreadable) {
    // Closed untouched (no checkpoint into it), then moved aside as it is.
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    connection.reset();
    moveAsideUnreadable(file, st.st_dev, st.st_ino);
  }
  return nullptr;
}

SuiteConnection::SuiteConnection(sqlite3* db, dev_t device, ino_t inode)
    : db_(db), device_(device), inode_(inode) {}

SuiteConnection::~SuiteConnection() {
  for (sqlite3_stmt* stmt : {upsert_, delete_, select_, beginWrite_, beginRead_, commit_, rollback_}) {
    sqlite3_finalize(stmt);
  }
  sqlite3_close_v2(db_);
}

SuiteConnection::Opening SuiteConnection::setUp() {
  int result = enableWal(db_);
  if (result == SQLITE_OK) {
    result = retryWhileBusy([this] { return sqlite3_exec(db_, kSetupSql, nullptr, nullptr, nullptr); });
  }
  if (result == SQLITE_OK) result = quickCheck(db_);
  if (result == SQLITE_OK && !prepare()) result = sqlite3_errcode(db_);
  if (result == SQLITE_OK) return Opening::opened;
  return isUnreadable(result) ? Opening::unreadable : Opening::failed;
}

bool SuiteConnection::prepare() {
  const std::array<std::pair<const char*, sqlite3_stmt**>, 7> statements = {{
      {"INSERT OR REPLACE INTO entries (key, value) VALUES (?1, ?2)", &upsert_},
      {"DELETE FROM entries WHERE key = ?1", &delete_},
      {"SELECT value FROM entries WHERE key = ?1", &select_},
      {"BEGIN IMMEDIATE", &beginWrite_},
      {"BEGIN", &beginRead_},
      {"COMMIT", &commit_},
      {"ROLLBACK", &rollback_},
  }};
  return std::ranges::all_of(statements, [this](const auto& statement) {
    return sqlite3_prepare_v3(db_, statement.first, -1, SQLITE_PREPARE_PERSISTENT, statement.second,
                              nullptr) == SQLITE_OK;
  });
}

bool SuiteConnection::stillOpens(const std::filesystem::path& file) const {
  struct stat st {};
  return lstat(file.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_ &&
         isPrivateRegularFile(st);
}

void SuiteConnection::retire() {
  int persist = 1;
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
}

bool SuiteConnection::write(std::string_view key, const StoredValue& value) {
  DbLock lock(db_);
  return upsert(key, value);
}

bool SuiteConnection::remove(std::string_view key) {
  DbLock lock(db_);
  return erase(key);
}

bool SuiteConnection::write(std::span<const SuiteChange> changes) {
  DbLock lock(db_);
  if (!runToEnd(beginWrite_)) return false;
  for (const SuiteChange& change : changes) {
    const bool applied = change.value ? upsert(change.key, *change.value) : erase(change.key);
    if (!applied) {
      rollbackIfOpen();
      return false;
    }
  }
  if (runToEnd(commit_)) return true;
  rollbackIfOpen();
  return false;
}

StoredValue SuiteConnection::read(std::string_view key, std::size_t maxTextBytes) {
  DbLock lock(db_);
  StoredValue value;
  select(key, maxTextBytes, value);
  return value;
}

std::vector<StoredValue> SuiteConnection::read(std::span<const std::string_view> keys,
                                               std::size_t maxTextBytes) {
  std::vector<StoredValue> values(keys.size());
  DbLock lock(db_);
  if (!runToEnd(beginRead_)) return values;
  bool whole = true;
  for (std::size_t i = 0; whole && i < keys.size(); ++i) whole = select(keys[i], maxTextBytes, values[i]);
  if (whole && runToEnd(commit_)) return values;
  rollbackIfOpen();
  return std::vector<StoredValue>(keys.size());
}

bool SuiteConnection::upsert(std::string_view key, const StoredValue& value) {
  bindKey(upsert_, key);
  switch (value.type) {
    case StoredValue::Type::integer:
      sqlite3_bind_int64(upsert_, 2, value.integer);
      break;
    case StoredValue::Type::real:
      sqlite3_bind_double(upsert_, 2, value.real);
      break;
    case StoredValue::Type::text:
      sqlite3_bind_text(upsert_, 2, value.text.data(), static_cast<int>(value.text.size()), SQLITE_STATIC);
      break;
    case StoredValue::Type::other:
      sqlite3_bind_null(upsert_, 2);
      break;
  }
  return runToEnd(upsert_);
}

bool SuiteConnection::erase(std::string_view key) {
  bindKey(delete_, key);
  return runToEnd(delete_);
}

bool SuiteConnection::select(std::string_view key, std::size_t maxTextBytes, StoredValue& value) {
  bindKey(select_, key);
  const int result = sqlite3_step(select_);
  if (result == SQLITE_ROW) value = columnValue(select_, maxTextBytes);
  sqlite3_reset(select_);
  return result == SQLITE_ROW || result == SQLITE_DONE;
}

void SuiteConnection::rollbackIfOpen() {
  if (sqlite3_get_autocommit(db_) == 0) runToEnd(rollback_);
}

}  // namespace platform::suite
