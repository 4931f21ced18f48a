#pragma once

#include <filesystem>
#include <string>

#include "tests/support/Command.h"

namespace testsupport {

// Runs SQL on a database file with the sqlite3 tool, as another program would: the first
// line it prints, "<none>" when it prints nothing, or its error.
inline std::string rawSql(const std::filesystem::path& file, std::string sql) {
  for (auto quote = sql.find('\''); quote != std::string::npos; quote = sql.find('\'', quote + 4))
    sql.replace(quote, 1, "'\\''");
  const std::string output =
      outputOf("sqlite3 -init /dev/null -bail '" + file.string() + "' '" + sql + "' 2>&1");
  return output.empty() ? "<none>" : output.substr(0, output.find('\n'));
}

}  // namespace testsupport
