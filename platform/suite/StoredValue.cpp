#include "platform/suite/StoredValue.h"

#include <utility>

namespace platform::suite {

StoredValue StoredValue::ofInteger(std::int64_t value) {
  StoredValue stored;
  stored.type = Type::integer;
  stored.integer = value;
  return stored;
}

StoredValue StoredValue::ofReal(double value) {
  StoredValue stored;
  stored.type = Type::real;
  stored.real = value;
  return stored;
}

StoredValue StoredValue::ofText(std::string_view value) {
  StoredValue stored;
  stored.type = Type::text;
  stored.text = value;
  return stored;
}

std::optional<std::int64_t> StoredValue::asInteger() const {
  if (type != Type::integer) return std::nullopt;
  return integer;
}

std::optional<double> StoredValue::asDouble() const {
  if (type == Type::real) return real;
  if (type == Type::integer) return static_cast<double>(integer);
  return std::nullopt;
}

std::optional<std::string> StoredValue::asText() const& {
  if (type != Type::text) return std::nullopt;
  return text;
}

std::optional<std::string> StoredValue::asText() && {
  if (type != Type::text) return std::nullopt;
  return std::move(text);
}

std::optional<bool> StoredValue::asBool() const {
  if (type != Type::integer) return std::nullopt;
  return integer != 0;
}

}  // namespace platform::suite
