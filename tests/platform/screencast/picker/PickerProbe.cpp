// A stand-in app process for the tests: finds a broadcast extension the way the picker
// does and prints what it found ("find"), or starts it and exits at once ("launch").

#include <cstdio>
#include <string_view>

#include "platform/screencast/picker/ExtensionLauncher.h"
#include "platform/screencast/picker/ExtensionLookup.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string_view command(argv[1]);
  const auto extension = platform::screencast::findExtension(argv[2]);
  if (!extension) return 1;
  if (command == "find") {
    std::printf("%s\n%s\n", extension->exec.c_str(), extension->name.c_str());
    return 0;
  }
  if (command == "launch") return platform::screencast::launchExtension(*extension, {"--capture=screen"}) ? 0 : 1;
  return 2;
}
