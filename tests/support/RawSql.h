#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace testsupport {

// Runs the command with /bin/sh; what it prints (up to 1 MiB).
inline std::string outputOf(const std::string& command) {
  std::string output(1 << 20, '\0');
  FILE* pipe = popen(command.c_str(), "r");
  output.resize(std::fread(output.data(), 1, output.size(), pipe));
  pclose(pipe);
  return output;
}

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
