#pragma once

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/text/Translation.h"

namespace testsupport {

// The C library's de_DE.UTF-8 and the build tree's translations for as long as it lives,
// named in LC_ALL too for what reads the environment (GLib's localized key-file values):
// the locale is built with localedef into a private folder (LOCPATH) when the system has
// not generated it. Back to the C locale afterwards.
class GermanLocale {
 public:
  GermanLocale() {
    if (const char* language = std::getenv("LANGUAGE")) savedLanguage_ = language;
    if (const char* all = std::getenv("LC_ALL")) savedAll_ = all;
    unsetenv("LANGUAGE");
    setenv("LC_ALL", kName, 1);
    if (std::setlocale(LC_ALL, kName) == nullptr) {
      std::string folder = (std::filesystem::temp_directory_path() / "sorn-locale-XXXXXX").string();
      if (mkdtemp(folder.data()) != nullptr) {
        locales_ = folder;
        const std::string build =
            "localedef -i de_DE -f UTF-8 '" + (*locales_ / kName).string() + "' >/dev/null 2>&1";
        if (std::system(build.c_str()) == 0) setenv("LOCPATH", locales_->c_str(), 1);
      }
    }
    usable_ = std::setlocale(LC_ALL, kName) != nullptr;
    bindtextdomain(platform::text::kTextDomain, SORN_BUILD_LOCALEDIR);
    bind_textdomain_codeset(platform::text::kTextDomain, "UTF-8");
    textdomain(platform::text::kTextDomain);
  }
  ~GermanLocale() {
    std::setlocale(LC_ALL, "C");
    if (locales_) {
      unsetenv("LOCPATH");
      std::error_code ignored;
      std::filesystem::remove_all(*locales_, ignored);
    }
    if (savedLanguage_) setenv("LANGUAGE", savedLanguage_->c_str(), 1);
    if (savedAll_) {
      setenv("LC_ALL", savedAll_->c_str(), 1);
    } else {
      unsetenv("LC_ALL");
    }
  }
  GermanLocale(const GermanLocale&) = delete;
  GermanLocale& operator=(const GermanLocale&) = delete;

  // False when neither the system nor localedef (the locales package) gives de_DE.UTF-8.
  [[nodiscard]] bool usable() const { return usable_; }

 private:
  static constexpr const char* kName = "de_DE.UTF-8";
  std::optional<std::filesystem::path> locales_;
  std::optional<std::string> savedLanguage_;
  std::optional<std::string> savedAll_;
  bool usable_ = false;
};

}  // namespace testsupport
