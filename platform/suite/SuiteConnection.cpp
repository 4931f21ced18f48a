#include "platform/suite/SuiteConnection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

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

bool enableWal(sqlite3* db) {
  return retryWhileBusy([db] {
           sqlite3_stmt* stmt = nullptr;
           int result = sqlite3_prepare_v2(db, "PRAGMA journal_mode = WAL", -1, &stmt, nullptr);
           if (result == SQLITE_OK) {
             result = sqlite3_step(stmt);
             if (result == SQLITE_ROW) {
               const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
               result = mode != nullptr && std::string_view(mode) == "wal" ? SQLITE_OK : SQLITE_ERROR;
             }
           }
           sqlite3_finalize(stmt);
           return result;
         }) == SQLITE_OK;
}

// Bound text is not copied: every statement is reset before the call that bound it
// returns, while the caller's text is still alive.
void bindKey(sqlite3_stmt* stmt, std::string_view key) {
  sqlite3_bind_text(stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
}

void runToEnd(sqlite3_stmt* stmt) {
  sqlite3_step(stmt);
  sqlite3_reset(stmt);
}

}  // namespace

std::shared_ptr<SuiteConnection> SuiteConnection::open(const std::filesystem::path& file) {
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
  if (!enableWal(db) ||
      retryWhileBusy([db] { return sqlite3_exec(db, kSetupSql, nullptr, nullptr, nullptr); }) != SQLITE_OK ||
      !connection->prepare()) {
    return nullptr;
  }
  return connection;
}

SuiteConnection::SuiteConnection(sqlite3* db, dev_t device, ino_t inode)
    : db_(db), device_(device), inode_(inode) {}

SuiteConnection::~SuiteConnection() {
  sqlite3_finalize(upsert_);
  sqlite3_finalize(delete_);
  sqlite3_finalize(select_);
  sqlite3_close_v2(db_);
}

bool SuiteConnection::prepare() {
  constexpr unsigned kFlags = SQLITE_PREPARE_PERSISTENT;
  return sqlite3_prepare_v3(db_, "INSERT OR REPLACE INTO entries (key, value) VALUES (?1, ?2)", -1,
                            kFlags, &upsert_, nullptr) == SQLITE_OK &&
         sqlite3_prepare_v3(db_, "DELETE FROM entries WHERE key = ?1", -1, kFlags, &delete_,
                            nullptr) == SQLITE_OK &&
         sqlite3_prepare_v3(db_, "SELECT value FROM entries WHERE key = ?1", -1, kFlags, &select_,
                            nullptr) == SQLITE_OK;
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

void SuiteConnection::write(std::string_view key, const StoredValue& value) {
  DbLock lock(db_);
  bindKey(upsert_, key);
  switch (value.type) {
    case StoredValue::Type::integer:
      sqlite3_bind_int64(upsert_, 2, value.integer);
      break;
    case StoredValue::Type::real:
      sqlite3_bind_double(upsert_, 2, value.real);
      break;
    case StoredValue::Type::text:
      sqlite3_bind_text(upsert_, 2, value.text.data(), static_cast<int>(value.text.size()),
                        SQLITE_STATIC);
      break;
    case StoredValue::Type::other:
      sqlite3_bind_null(upsert_, 2);
      break;
  }
  runToEnd(upsert_);
}

void SuiteConnection::remove(std::string_view key) {
  DbLock lock(db_);
  bindKey(delete_, key);
  runToEnd(delete_);
}

std::optional<StoredValue> SuiteConnection::read(std::string_view key) {
  DbLock lock(db_);
  bindKey(select_, key);
  std::optional<StoredValue> result;
  if (sqlite3_step(select_) == SQLITE_ROW) {
    StoredValue value;
    switch (sqlite3_column_type(select_, 0)) {
      case SQLITE_INTEGER:
        value.type = StoredValue::Type::integer;
        value.integer = sqlite3_column_int64(select_, 0);
        break;
      case SQLITE_FLOAT:
        value.type = StoredValue::Type::real;
        value.real = sqlite3_column_double(select_, 0);
        break;
      case SQLITE_TEXT: {
        value.type = StoredValue::Type::text;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select_, 0));
        value.text.assign(text, static_cast<std::size_t>(sqlite3_column_bytes(select_, 0)));
        break;
      }
      default:
        break;
    }
    result = std::move(value);
  }
  sqlite3_reset(select_);
  return result;
}

}  // namespace platform::suite
