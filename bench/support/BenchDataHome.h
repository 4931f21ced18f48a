#pragma once

#include <filesystem>

namespace benchsupport {

// A fresh folder used as XDG_DATA_HOME (and its "cache" folder as XDG_CACHE_HOME) for
// the whole benchmark run, removed at exit. Asked for before anything reads those.
const std::filesystem::path& benchDataHome();

}  // namespace benchsupport
