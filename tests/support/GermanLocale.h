#pragma once

#include <libintl.h>

#include <clocale>
#include <cstdlib>

#include "platform/text/Translation.h"

namespace testsupport {

// The C library's de_DE.UTF-8, which the build makes in SORN_TEST_LOCPATH, and the build
// tree's translations for as long as it lives, named in LC_ALL too for what reads the
// environment (GLib's localized key-file values). Afterwards the C locale, without LC_ALL,
// LANGUAGE or LOCPATH: the texts untranslated.
class GermanLocale {
 public:
  GermanLocale() {
    unsetenv("LANGUAGE");
    setenv("LC_ALL", kName, 1);
    setenv("LOCPATH", SORN_TEST_LOCPATH, 1);
    usable_ = std::setlocale(LC_ALL, kName) != nullptr;
    bindtextdomain(platform::text::kTextDomain, SORN_BUILD_LOCALEDIR);
    bind_textdomain_codeset(platform::text::kTextDomain, "UTF-8");
    textdomain(platform::text::kTextDomain);
  }
  ~GermanLocale() {
    std::setlocale(LC_ALL, "C");
    unsetenv("LC_ALL");
    unsetenv("LOCPATH");
  }
  GermanLocale(const GermanLocale&) = delete;
  GermanLocale& operator=(const GermanLocale&) = delete;

  // False when the build could not make de_DE.UTF-8 (localedef and the locales package).
  [[nodiscard]] bool usable() const { return usable_; }

 private:
  static constexpr const char* kName = "de_DE.UTF-8";
  bool usable_ = false;
};

}  // namespace testsupport
