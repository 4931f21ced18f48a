#pragma once

#include <cstdint>
#include <string>

// Lookups of the extension's localizable keys in its own gettext text domain. A key
// without a translation is shown as written. Any thread.
namespace widgets {

inline constexpr const char* kTextDomain = "sorn-widgets";

// The translation of `key`, or the key itself.
std::string localized(const char* key);

// The translation of a key holding one "%lld" (a translation may write "%1$lld"),
// with `value` written in its place. A translation without that placeholder is not
// used, so the number always shows; nothing in a translation is read as a format.
std::string localized(const char* key, std::int64_t value);

}  // namespace widgets
