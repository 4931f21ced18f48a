#include "app/UsableFolder.h"

#include <glib.h>
#include <unistd.h>

namespace app {

bool isUsableFolder(const std::filesystem::path& folder) {
  return g_mkdir_with_parents(folder.c_str(), 0700) == 0 &&
         g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR) != FALSE &&
         access(folder.c_str(), R_OK | W_OK | X_OK) == 0;
}

}  // namespace app
