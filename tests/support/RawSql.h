#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <string>

namespace testsupport {

// Runs SQL on a database file as another program (the sqlite3 tool, say) would: the
// first column of the first row it gives, "<none>" when it gives none, or the error.
inline std::string rawSql(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string first = "<none>";
  char* error = nullptr;
  const auto keepFirst = [](void* out, int /*columns*/, char** values, char** /*names*/) {
    auto& result = *static_cast<std::string*>(out);
    if (result == "<none>") result = values[0] != nullptr ? values[0] : "NULL";
    return 0;
  };
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, sql.c_str(), keepFirst, &first, &error) != SQLITE_OK)
    first = "error: " + std::string(error != nullptr ? error : sqlite3_errmsg(db));
  sqlite3_free(error);
  sqlite3_close(db);
  return first;
}

}  // namespace testsupport
