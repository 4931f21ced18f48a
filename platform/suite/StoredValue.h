#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::suite {

// The value of one key as SQLite holds it; `other` is a missing key or a value of a
// type no reader takes (NULL, a blob, a text over the reader's bound).
struct StoredValue {
  enum class Type { integer, real, text, other };
  Type type = Type::other;
  std::int64_t integer = 0;
  double real = 0.0;
  std::string text;

  static StoredValue ofInteger(std::int64_t value);
  static StoredValue ofReal(double value);
  static StoredValue ofText(std::string_view value);

  // Typed reads: nothing when the value has another type. A double read also takes an
  // integer; a bool read takes any integer.
  [[nodiscard]] std::optional<std::int64_t> asInteger() const;
  [[nodiscard]] std::optional<double> asDouble() const;
  [[nodiscard]] std::optional<std::string> asText() const&;
  [[nodiscard]] std::optional<std::string> asText() &&;
  [[nodiscard]] std::optional<bool> asBool() const;
};

}  // namespace platform::suite
