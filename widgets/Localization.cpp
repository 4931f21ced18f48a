#include "widgets/Localization.h"

#include <libintl.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>

namespace widgets {
namespace {

// Translations live in <prefix>/share/locale beside <prefix>/bin, in the build tree
// and when installed alike.
void bindTextDomain() {
  static std::once_flag bound;
  std::call_once(bound, [] {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
      bindtextdomain(kTextDomain, (program.parent_path().parent_path() / "share" / "locale").c_str());
    bind_textdomain_codeset(kTextDomain, "UTF-8");
  });
}

std::string decimal(std::int64_t value) {
  std::array<char, 24> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  return {digits.data(), result.ptr};
}

// Puts `number` in place of the first placeholder and turns "%%" into "%"; nothing
// when the text has no placeholder.
std::optional<std::string> fillIn(std::string_view format, const std::string& number) {
  std::string filled;
  bool placed = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const std::string_view rest = format.substr(i);
    if (rest.starts_with("%%")) {
      filled += '%';
      ++i;
    } else if (!placed && rest.starts_with("%lld")) {
      filled += number;
      placed = true;
      i += 3;
    } else if (!placed && rest.starts_with("%1$lld")) {
      filled += number;
      placed = true;
      i += 5;
    } else {
      filled += format[i];
    }
  }
  if (!placed) return std::nullopt;
  return filled;
}

}  // namespace

std::string localized(const char* key) {
  bindTextDomain();
  return dgettext(kTextDomain, key);
}

std::string localized(const char* key, std::int64_t value) {
  const std::string number = decimal(value);
  if (auto filled = fillIn(localized(key), number)) return *filled;
  return fillIn(key, number).value_or(key);
}

}  // namespace widgets
