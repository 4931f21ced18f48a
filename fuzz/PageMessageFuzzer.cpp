// Page message bodies, as the JSON text the web view adapter hands over, through the
// Coordinator into a real suite in a temporary data folder. After each message the
// suite must hold nothing but what that message's kind writes: only the app's own
// keys, each with its type, integer fields as whole numbers the value rules let
// through, strings unchanged; and the reload and broadcast calls exactly as the kind asks.
// What it holds reads back through the typed reads and the broadcast's credentials. A
// "voiceLeft" message comes after a join, whose credentials it removes.
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "app/Coordinator.h"
#include "broadcast/ScreenShareStore.h"
#include "fuzz/TemporaryDataFolder.h"
#include "platform/suite/Suite.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace {

namespace keys = shared::keys;
using nlohmann::json;

constexpr double kNow = 1'700'000'123.25;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "page message invariant broken: %s\n", what.c_str());
  std::abort();
}

void check(bool holds, const std::string& what) {
  if (!holds) fail(what);
}

// Counts what the Coordinator asks of the world outside it.
// Work for the main queue waits until the harness runs it after the message.
struct Recorder final : platform::desktop::ExternalOpener,
                        platform::desktop::TimelineReloader,
                        app::BroadcastLauncher,
                        platform::dispatch::MainQueue {
  void openExternally(const std::string& /*url*/) override { ++opened; }
  void reloadAllTimelines() override { ++reloads; }
  void startBroadcast() override { ++broadcasts; }
  void post(std::function<void()> work) override { queued.push_back(std::move(work)); }
  void runMainQueue() {
    for (auto work = std::move(queued); auto& item : work) item();
  }
  std::vector<std::function<void()>> queued;
  int opened = 0;
  int reloads = 0;
  int broadcasts = 0;
};

// One stored value as SQLite holds it.
struct Row {
  std::string type;  // "integer", "real", "text", ...
  std::int64_t integer = 0;
  double real = 0.0;
  std::string text;
};

// A private data folder (on tmpfs where there is one, for speed) with the app's suite
// in it, and a connection of the harness's own that reads and empties the suite.
// Lives for the whole run, on libFuzzer's thread.
class SuiteUnderTest {
 public:
  SuiteUnderTest() {
    root_ = fuzzsupport::makeTemporaryDataFolder();
    if (root_.empty()) fail("no temporary folder");
    if (!shared::SharedStore::open()) fail("the suite cannot be opened");
    const auto file = root_ / "app-groups" / shared::kSuiteName / "suite.sqlite3";
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      fail("cannot read the suite");
    sqlite3_busy_timeout(db_, 5000);
  }
  ~SuiteUnderTest() {
    sqlite3_close(db_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  SuiteUnderTest(const SuiteUnderTest&) = delete;
  SuiteUnderTest& operator=(const SuiteUnderTest&) = delete;

  // Everything the suite holds.
  std::map<std::string, Row> contents() {
    std::map<std::string, Row> rows;
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db_, "SELECT key, typeof(value), value FROM entries", -1, &select, nullptr);
    while (sqlite3_step(select) == SQLITE_ROW) {
      Row row;
      row.type = reinterpret_cast<const char*>(sqlite3_column_text(select, 1));
      row.integer = sqlite3_column_int64(select, 2);
      row.real = sqlite3_column_double(select, 2);
      const auto* text = static_cast<const char*>(sqlite3_column_blob(select, 2));
      row.text.assign(text != nullptr ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(select, 2)));
      rows.emplace(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)), std::move(row));
    }
    sqlite3_finalize(select);
    return rows;
  }

  // Empties it for the next message.
  void empty() {
    if (sqlite3_exec(db_, "DELETE FROM entries", nullptr, nullptr, nullptr) != SQLITE_OK)
      fail("cannot empty the suite");
  }

 private:
  std::filesystem::path root_;
  sqlite3* db_ = nullptr;
};

const json* field(const json& body, const char* name) {
  auto it = body.find(name);
  return it != body.end() ? &*it : nullptr;
}

// Whether `stored` is what the value rules give for the integer field `name`: a whole
// number that fits 64 bits is kept, anything else is 0.
bool integerRuleHolds(const json& body, const char* name, std::int64_t stored) {
  const json* value = field(body, name);
  if (value == nullptr || !value->is_number()) return stored == 0;
  if (value->is_number_unsigned()) {
    const auto number = value->get<std::uint64_t>();
    return number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? stored == static_cast<std::int64_t>(number)
               : stored == 0;
  }
  if (value->is_number_integer()) return stored == value->get<std::int64_t>();
  const double number = value->get<double>();
  const bool wholeAndFits = std::trunc(number) == number && number >= -0x1p63 && number < 0x1p63;
  if (stored != 0) return wholeAndFits && static_cast<double>(stored) == number;
  return !wholeAndFits || number == 0.0;
}

// A string up to kMaxStringBytes is kept, anything else is the fallback.
std::string stringRule(const json& body, const char* name, const std::string& fallback = {}) {
  const json* value = field(body, name);
  return value != nullptr && value->is_string() &&
                 value->get_ref<const std::string&>().size() <= shared::kMaxStringBytes
             ? value->get<std::string>()
             : fallback;
}

void checkKeys(const std::map<std::string, Row>& rows, const std::set<std::string>& expected,
               const std::string& kind) {
  std::set<std::string> stored;
  for (const auto& [key, row] : rows) stored.insert(key);
  if (stored != expected) {
    std::string list;
    for (const auto& key : stored) list += " " + key;
    fail("\"" + kind + "\" left the keys" + list);
  }
}

const Row& rowOf(const std::map<std::string, Row>& rows, const char* key, const char* type) {
  const Row& row = rows.at(key);
  check(row.type == type, std::string(key) + " holds a " + row.type + ", not a " + type);
  return row;
}

void checkStats(const json& body, const std::map<std::string, Row>& rows) {
  checkKeys(
      rows,
      {keys::kVoiceSeconds, keys::kStreakDays, keys::kBestStreak, keys::kUsername, keys::kStatsUpdatedAt},
      "stats");
  for (const auto& [key, name] :
       {std::pair{keys::kVoiceSeconds, "voice_seconds"}, std::pair{keys::kStreakDays, "streak_days"},
        std::pair{keys::kBestStreak, "best_streak"}}) {
    check(integerRuleHolds(body, name, rowOf(rows, key, "integer").integer),
          std::string(key) + " breaks the integer rule");
  }
  check(rowOf(rows, keys::kUsername, "text").text == stringRule(body, "username"),
        "username changed on its way");
  check(rowOf(rows, keys::kStatsUpdatedAt, "real").real == kNow, "stats.updatedAt is not the current time");
}

void checkVoiceJoined(const json& body, const std::map<std::string, Row>& rows) {
  checkKeys(rows,
            {keys::kAccessToken, keys::kChannelId, keys::kPrimarySessionId, keys::kApiBase,
             keys::kCredentialsUpdatedAt},
            "voiceJoined");
  check(rowOf(rows, keys::kAccessToken, "text").text == stringRule(body, "token"),
        "token changed on its way");
  check(rowOf(rows, keys::kChannelId, "text").text == stringRule(body, "channel_id"),
        "channel changed on its way");
  check(rowOf(rows, keys::kPrimarySessionId, "text").text == stringRule(body, "session_id"),
        "session changed on its way");
  check(rowOf(rows, keys::kApiBase, "text").text == stringRule(body, "api_base", shared::kDefaultApiBase),
        "API base changed on its way");
  check(rowOf(rows, keys::kCredentialsUpdatedAt, "real").real == kNow,
        "screen.updatedAt is not the current time");
}

// Each typed read gives the stored value exactly when it is of its type (a double read
// takes an integer too, a bool read is an integer's); a text over kMaxStringBytes reads
// as missing. The readers' snapshot gives the same, or its default.
void checkReadBack(const std::map<std::string, Row>& rows) {
  const auto suite = platform::suite::Suite::open(shared::kSuiteName, shared::kMaxStringBytes);
  const auto store = shared::SharedStore::open();
  check(suite && store, "the suite cannot be read");
  for (const auto& [key, row] : rows) {
    const bool integer = row.type == "integer", real = row.type == "real";
    const auto asInteger = integer ? std::optional(row.integer) : std::nullopt;
    const auto asDouble = integer ? std::optional(static_cast<double>(row.integer))
                          : real  ? std::optional(row.real)
                                  : std::nullopt;
    const auto asText = row.type == "text" && row.text.size() <= shared::kMaxStringBytes
                            ? std::optional(row.text)
                            : std::nullopt;
    const auto asBool = integer ? std::optional(row.integer != 0) : std::nullopt;
    check(suite->integer(key) == asInteger && suite->doubleValue(key) == asDouble &&
              suite->string(key) == asText && suite->boolValue(key) == asBool,
          key + " reads back otherwise");
    const auto snapshot = store->read({key});
    check(snapshot.integer(key) == asInteger.value_or(0) &&
              snapshot.doubleValue(key) == asDouble.value_or(0) && snapshot.string(key) == asText &&
              snapshot.boolValue(key) == asBool.value_or(false),
          key + " reads back otherwise in a snapshot");
  }
}

// The broadcast takes credentials whose token, channel and voice session are not empty.
void checkCredentials(const json& body) {
  const auto token = stringRule(body, "token"), channel = stringRule(body, "channel_id"),
             session = stringRule(body, "session_id");
  const auto loaded = broadcast::ScreenShareStore::load();
  check(token.empty() || channel.empty() || session.empty()
            ? !loaded
            : loaded ==
                  broadcast::ScreenShareStore::Credentials{
                      token, channel, session, stringRule(body, "api_base", shared::kDefaultApiBase),
                      broadcast::ScreenShareStore::Date(std::chrono::duration<double>(kNow))},
        "the broadcast's credentials are not the ones stored");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static SuiteUnderTest suite;
  static Recorder recorder;
  static app::Coordinator coordinator(
      app::CoordinatorServices{[] { return kNow; }, recorder, recorder, recorder, recorder,
                               [] { return std::chrono::steady_clock::now(); }});

  const std::string text(reinterpret_cast<const char*>(data), size);
  // The kind as the page meant it, read independently of the Coordinator.
  const json body = json::parse(text, nullptr, /*allow_exceptions=*/false);
  std::string kind;
  if (body.is_object()) {
    if (const json* type = field(body, "type"); type != nullptr && type->is_string())
      kind = type->get<std::string>();
  }
  // A call is left after it was joined: there are credentials for the message to remove.
  if (kind == "voiceLeft")
    coordinator.userContentController(
        R"({"type":"voiceJoined","token":"t","channel_id":"c","session_id":"s"})");
  const int opened = recorder.opened;
  const int reloads = recorder.reloads;
  const int broadcasts = recorder.broadcasts;
  coordinator.userContentController(text);
  recorder.runMainQueue();

  if (kind == "voiceJoined") checkCredentials(body);
  const auto rows = suite.contents();
  checkReadBack(rows);
  suite.empty();

  check(recorder.opened == opened, "a page message opened a URL");
  check(recorder.reloads == reloads + (kind == "stats" ? 1 : 0), "widget reloads do not match the message");
  check(recorder.broadcasts == broadcasts + (kind == "startScreenShare" ? 1 : 0),
        "broadcast starts do not match the message");
  if (kind == "stats") {
    checkStats(body, rows);
  } else if (kind == "voiceJoined") {
    checkVoiceJoined(body, rows);
  } else if (kind == "voiceLeft") {
    checkKeys(rows, {keys::kScreenActive}, kind);
    check(rowOf(rows, keys::kScreenActive, "integer").integer == 0, "voiceLeft did not store false");
  } else {
    checkKeys(rows, {}, kind.empty() ? "a body without a kind" : kind);
  }
  return 0;
}
