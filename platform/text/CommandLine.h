#pragma once

#include <string_view>

// What every program's command line answers alike, whichever parser reads it.
namespace platform::text {

// The description of --version (-v) in the help.
const char* versionOptionDescription();

// Prints "<program> <release>" ("sorn 1.0.0") on standard output.
void printVersion(std::string_view program);

// Prints "<program>: <message>" on standard error.
void printCommandLineError(std::string_view program, std::string_view message);

// Prints that `argument` was not expected, as printCommandLineError does.
void printUnexpectedArgument(std::string_view program, std::string_view argument);

}  // namespace platform::text
