#include "platform/text/CommandLine.h"

#include <iostream>

#include "platform/text/Translation.h"
#include "platform/text/Version.h"

namespace platform::text {

const char* versionOptionDescription() { return _("Show the version and exit"); }

void printVersion(std::string_view program) { std::cout << program << ' ' << kVersion << std::endl; }

void printCommandLineError(std::string_view program, std::string_view message) {
  std::cerr << program << ": " << message << std::endl;
}

void printUnexpectedArgument(std::string_view program, std::string_view argument) {
  printCommandLineError(program, translateFilling(N_("Unexpected argument '%s'."), "%s", argument));
}

}  // namespace platform::text
