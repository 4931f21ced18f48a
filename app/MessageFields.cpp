#include "app/MessageFields.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "shared/Constants.h"

namespace app::fields {
namespace {

const nlohmann::json* find(const nlohmann::json& body, std::string_view name) {
  if (!body.is_object()) return nullptr;
  auto it = body.find(name);
  return it != body.end() ? &*it : nullptr;
}

}  // namespace

std::int64_t integer(const nlohmann::json& body, std::string_view name) {
  const nlohmann::json* value = find(body, name);
  if (value == nullptr) return 0;
  if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<std::int64_t>();
  if (value->is_number_unsigned()) {
    const auto number = value->get<std::uint64_t>();
    return number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? static_cast<std::int64_t>(number)
               : 0;
  }
  if (value->is_number_float()) {
    const auto number = value->get<double>();
    // -2^63 is exactly representable and fits; 2^63 is the first double that does not.
    constexpr double kLowest = -9223372036854775808.0;
    constexpr double kBeyondHighest = 9223372036854775808.0;
    if (std::isfinite(number) && std::trunc(number) == number && number >= kLowest &&
        number < kBeyondHighest) {
      return static_cast<std::int64_t>(number);
    }
  }
  return 0;
}

std::string string(const nlohmann::json& body, std::string_view name, std::string_view fallback) {
  const nlohmann::json* value = find(body, name);
  if (value != nullptr && value->is_string() &&
      value->get_ref<const std::string&>().size() <= shared::kMaxStringBytes) {
    return value->get<std::string>();
  }
  return std::string(fallback);
}

}  // namespace app::fields
