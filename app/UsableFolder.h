#pragma once

#include <filesystem>

namespace app {

// Whether the folder is there or could be made, private to the user, and can be read and
// written. Web engines abort the whole app on a data folder they cannot use, so the
// adapters find that out first.
bool isUsableFolder(const std::filesystem::path& folder);

}  // namespace app
