#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

// The value rules for the fields of a page message. A field that is missing or does not
// fit its rule takes the fallback; nothing here fails.
namespace app::fields {

// A whole number that fits a signed 64-bit integer: 3600 and 3600.0 both give 3600,
// negative whole numbers are kept. Fractions, numbers beyond 64 bits, non-finite
// numbers, strings of digits, booleans, null, objects and arrays give 0. (The page's
// booleans arrive as JSON booleans, not as 0 or 1, so they are not numbers here.)
std::int64_t integer(const nlohmann::json& body, std::string_view name);

// Any string up to shared::kMaxStringBytes, unchanged (empty included); anything else,
// longer strings too, gives the fallback.
std::string string(const nlohmann::json& body, std::string_view name, std::string_view fallback = {});

}  // namespace app::fields
