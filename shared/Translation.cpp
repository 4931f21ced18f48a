#include "shared/Translation.h"

#include <clocale>
#include <cstring>
#include <system_error>

namespace shared {

std::filesystem::path localeDir(const std::filesystem::path& prefixFromProgram) {
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (program.parent_path() / prefixFromProgram / "share" / "locale").lexically_normal();
}

void initTranslations(const std::filesystem::path& prefixFromProgram) {
  std::setlocale(LC_ALL, "");
  if (const auto dir = localeDir(prefixFromProgram); !dir.empty()) bindtextdomain(kTextDomain, dir.c_str());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
  textdomain(kTextDomain);
}

const char* contextGettext(const char* contextAndText, const char* text) {
  const char* translated = ::gettext(contextAndText);
  // gettext answers with its argument itself when there is no translation.
  return translated == contextAndText ? text : translated;
}

}  // namespace shared
