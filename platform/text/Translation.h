#pragma once

// The programs' texts in the user's language, through gettext's one text domain "sorn".
// Include this in source files only: `_` is a macro. The marks are the ones the
// message catalog is extracted with (po/update-pot): `_` translates, `N_` only marks a
// text translated later, `C_` translates with a context, `ngettext` chooses a plural.
#include <libintl.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform::text {

inline constexpr const char* kTextDomain = "sorn";

// Where the compiled catalogs are: <dir of the program>/<prefixFromProgram>/share/locale,
// laid out alike in the build tree and in an installed prefix (programs in bin/ reach
// the prefix through "..", those in libexec/sorn/ through "../.."); empty when the
// program's own path cannot be read.
std::filesystem::path localeDir(const std::filesystem::path& prefixFromProgram = "..");

// Takes the user's locale from the environment and makes "sorn", bound to localeDir()
// and read as UTF-8, the default text domain. Call once at the start of main, before
// any thread starts.
void initTranslations(const std::filesystem::path& prefixFromProgram = "..");

// The translation of `contextAndText` ("context\004text"), or `text` without one.
const char* contextGettext(const char* contextAndText, const char* text);

// The translation of `format`, which holds `placeholder` ("%s", "%lld") once (a
// translation may number it: "%1$s"), with `value` in its place and "%%" read as "%".
// A translation without the placeholder is not used, so the value always shows; no
// text is ever handed to a formatting function. Mark `format` with N_.
std::string translateFilling(const char* format, std::string_view placeholder, std::string_view value);
// The same with a number written in decimal ("7", "-3").
std::string translateFilling(const char* format, std::string_view placeholder, std::int64_t value);

}  // namespace platform::text

// Macros by gettext's convention: xgettext extracts the texts by these names, and N_ and C_
// must see string literals.
// NOLINTBEGIN(bugprone-reserved-identifier,cppcoreguidelines-macro-usage)
#define _(text) ::gettext(text)
#define N_(text) text
#define C_(context, message) ::platform::text::contextGettext(context "\004" message, message)
// NOLINTEND(bugprone-reserved-identifier,cppcoreguidelines-macro-usage)
