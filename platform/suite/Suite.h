#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/suite/StoredValue.h"
#include "platform/suite/SuiteChange.h"

namespace platform::suite {

class SuiteConnection;

// A handle on one app-group suite: a typed key-value store shared by every process of
// the group. Handles are cheap: the process keeps one connection per suite behind
// them. Usable from any thread. A single set, remove or read is one statement; a
// record is written or read in one transaction.
class Suite {
 public:
  static constexpr std::size_t kUnboundedText = std::numeric_limits<std::size_t>::max();

  // Opens the suite in the user's data folder, or gives nothing when it cannot be
  // created or opened, or when its folder or file is not private to the user. A file
  // that SQLite cannot read is moved aside and a fresh suite is started. Texts longer
  // than maxTextBytes read as missing through this handle.
  static std::optional<Suite> open(std::string_view suiteName, std::size_t maxTextBytes = kUnboundedText);

  // The suite's file: ${XDG_DATA_HOME:-~/.local/share}/app-groups/<name>/suite.sqlite3.
  static std::filesystem::path fileFor(std::string_view suiteName);

  // Each gives false when the statement failed (a full disk, a file over its size
  // limit, a busy store that never came free); the store is then as it was.
  bool setInteger(std::string_view key, std::int64_t value) const;
  bool setDouble(std::string_view key, double value) const;
  bool setString(std::string_view key, std::string_view value) const;
  bool setBool(std::string_view key, bool value) const;
  bool remove(std::string_view key) const;

  // Applies every change, in order, in one transaction: all of them or none.
  bool write(std::span<const SuiteChange> changes) const;

  // Typed reads: nothing when the key is missing or holds a value of another type.
  // A double read also takes a stored integer; a bool read takes any integer.
  [[nodiscard]] std::optional<std::int64_t> integer(std::string_view key) const;
  [[nodiscard]] std::optional<double> doubleValue(std::string_view key) const;
  [[nodiscard]] std::optional<std::string> string(std::string_view key) const;
  [[nodiscard]] std::optional<bool> boolValue(std::string_view key) const;

  // The values of the keys, in their order, from one read transaction; all missing
  // when that transaction failed.
  [[nodiscard]] std::vector<StoredValue> read(std::span<const std::string_view> keys) const;

 private:
  Suite(std::shared_ptr<SuiteConnection> connection, std::size_t maxTextBytes);
  std::shared_ptr<SuiteConnection> connection_;
  std::size_t maxTextBytes_;
};

}  // namespace platform::suite
