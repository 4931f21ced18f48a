#pragma once

#include <string>
#include <vector>

#include "platform/screencast/picker/ExtensionMetadata.h"

namespace platform::screencast {

// Starts the extension's program with the arguments as a process of its own: its own
// session, stdin from /dev/null, no descriptors of ours, so it outlives the caller. The
// caller does not wait for it; GLib reaps it when it ends, so no zombie stays behind.
// False when the program cannot be started. Main thread.
bool launchExtension(const ExtensionMetadata& extension, const std::vector<std::string>& arguments);

}  // namespace platform::screencast
