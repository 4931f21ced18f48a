#pragma once

#include <filesystem>

namespace benchsupport {

// A fresh folder used as XDG_DATA_HOME for the whole benchmark run, removed at exit.
const std::filesystem::path& benchDataHome();

}  // namespace benchsupport
