#include "platform/text/Translation.h"

#include <clocale>
#include <optional>
#include <system_error>

namespace platform::text {
namespace {

// `format` with `value` in place of its first placeholder, or nothing without one.
std::optional<std::string> fillIn(std::string_view format, std::string_view placeholder,
                                  std::string_view value) {
  const std::string numbered = "%1$" + std::string(placeholder.substr(1));
  std::string filled;
  bool placed = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const std::string_view rest = format.substr(i);
    if (rest.starts_with("%%")) {
      filled += '%';
      ++i;
    } else if (!placed && (rest.starts_with(placeholder) || rest.starts_with(numbered))) {
      filled += value;
      placed = true;
      i += (rest.starts_with(placeholder) ? placeholder.size() : numbered.size()) - 1;
    } else {
      filled += format[i];
    }
  }
  if (!placed) return std::nullopt;
  return filled;
}

}  // namespace

std::filesystem::path localeDir(const std::filesystem::path& prefixFromProgram) {
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (program.parent_path() / prefixFromProgram / "share" / "locale").lexically_normal();
}

void initTranslations(const std::filesystem::path& prefixFromProgram) {
  std::setlocale(LC_ALL, "");  // NOLINT(concurrency-mt-unsafe): called before any thread starts
  if (const auto dir = localeDir(prefixFromProgram); !dir.empty()) bindtextdomain(kTextDomain, dir.c_str());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
  textdomain(kTextDomain);
}

const char* contextGettext(const char* contextAndText, const char* text) {
  const char* translated = ::gettext(contextAndText);
  // gettext answers with its argument itself when there is no translation.
  return translated == contextAndText ? text : translated;
}

std::string translateFilling(const char* format, std::string_view placeholder, std::string_view value) {
  if (auto filled = fillIn(::gettext(format), placeholder, value)) return *filled;
  return fillIn(format, placeholder, value).value_or(format);
}

std::string translateFilling(const char* format, std::string_view placeholder, std::int64_t value) {
  return translateFilling(format, placeholder, std::to_string(value));
}

}  // namespace platform::text
