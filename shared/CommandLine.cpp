#include "shared/CommandLine.h"

#include <iostream>

#include "shared/Translation.h"
#include "shared/Version.h"

namespace shared {

const char* versionOptionDescription() { return _("Show the version and exit"); }

void printVersion(std::string_view program) { std::cout << program << ' ' << kVersion << std::endl; }

void printCommandLineError(std::string_view program, std::string_view message) {
  std::cerr << program << ": " << message << std::endl;
}

void printUnexpectedArgument(std::string_view program, std::string_view argument) {
  printCommandLineError(program, translateFilling(N_("Unexpected argument '%s'."), "%s", argument));
}

}  // namespace shared
