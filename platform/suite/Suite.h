#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::suite {

class SuiteConnection;

// A handle on one app-group suite: a typed key-value store shared by every process of
// the group. Handles are cheap: the process keeps one connection per suite behind
// them. Usable from any thread; each call is one statement of its own.
class Suite {
 public:
  // Opens the suite in the user's data folder, or gives nothing when it cannot be
  // created or opened, or when its folder or file is not private to the user.
  static std::optional<Suite> open(std::string_view suiteName);

  // The suite's file: ${XDG_DATA_HOME:-~/.local/share}/app-groups/<name>/suite.sqlite3.
  static std::filesystem::path fileFor(std::string_view suiteName);

  void setInteger(std::string_view key, std::int64_t value) const;
  void setDouble(std::string_view key, double value) const;
  void setString(std::string_view key, std::string_view value) const;
  void setBool(std::string_view key, bool value) const;
  void remove(std::string_view key) const;

  // Typed reads: nothing when the key is missing or holds a value of another type.
  // A double read also takes a stored integer; a bool read takes any integer.
  [[nodiscard]] std::optional<std::int64_t> integer(std::string_view key) const;
  [[nodiscard]] std::optional<double> doubleValue(std::string_view key) const;
  [[nodiscard]] std::optional<std::string> string(std::string_view key) const;
  [[nodiscard]] std::optional<bool> boolValue(std::string_view key) const;

 private:
  explicit Suite(std::shared_ptr<SuiteConnection> connection);
  std::shared_ptr<SuiteConnection> connection_;
};

}  // namespace platform::suite
