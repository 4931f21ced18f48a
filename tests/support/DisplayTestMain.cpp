// main() of the tests labelled "engine": they need a display and a session bus, and without
// them they are skipped (status 77, CTest's SKIP_RETURN_CODE) instead of failing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const auto isSet = [](const char* name) {
    return std::getenv(name) != nullptr && *std::getenv(name) != '\0';
  };
  const bool hasDisplay = isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
  if (!testing::GTEST_FLAG(list_tests) && (!hasDisplay || !isSet("DBUS_SESSION_BUS_ADDRESS"))) {
    std::fputs("SKIPPED: needs a display and a session bus (xvfb-run -a dbus-run-session -- ...)\n", stderr);
    return 77;
  }
  return RUN_ALL_TESTS();
}
