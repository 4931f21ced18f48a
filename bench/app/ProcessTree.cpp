#include "bench/app/ProcessTree.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace bench {
namespace {

std::optional<pid_t> parentOf(const std::filesystem::path& processDir) {
  std::ifstream stat(processDir / "stat");
  std::string line;
  if (!std::getline(stat, line)) return std::nullopt;
  // "pid (comm) state ppid ...": the command may hold spaces and parentheses.
  const auto close = line.rfind(')');
  if (close == std::string::npos || close + 4 >= line.size()) return std::nullopt;
  return static_cast<pid_t>(std::strtol(line.c_str() + close + 4, nullptr, 10));
}

// The value in kB of the first line starting with `field` (e.g. "VmRSS:").
std::optional<long> kibibytesOf(const std::filesystem::path& file, std::string_view field) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(field)) return std::strtol(line.c_str() + field.size(), nullptr, 10);
  }
  return std::nullopt;
}

}  // namespace

std::vector<pid_t> ProcessTree::of(pid_t root) {
  std::multimap<pid_t, pid_t> children;
  bool rootSeen = false;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    pid_t pid = 0;
    if (std::from_chars(name.data(), name.data() + name.size(), pid).ec != std::errc{}) continue;
    if (pid == root) rootSeen = true;
    if (auto parent = parentOf(entry.path())) children.emplace(*parent, pid);
  }
  if (!rootSeen) return {};
  std::vector<pid_t> tree{root};
  for (std::size_t next = 0; next < tree.size(); ++next) {
    auto [first, last] = children.equal_range(tree[next]);
    for (auto it = first; it != last; ++it) tree.push_back(it->second);
  }
  return tree;
}

ProcessMemory ProcessTree::memoryOf(const std::vector<pid_t>& processes) {
  ProcessMemory memory;
  for (pid_t pid : processes) {
    const std::filesystem::path dir = "/proc/" + std::to_string(pid);
    auto rss = kibibytesOf(dir / "status", "VmRSS:");
    if (!rss) continue;  // gone, or a zombie without memory
    memory.rssMiB += static_cast<double>(*rss) / 1024.0;
    // A process whose map cannot be read counts whole: too much rather than too little.
    memory.pssMiB += static_cast<double>(kibibytesOf(dir / "smaps_rollup", "Pss:").value_or(*rss)) / 1024.0;
    ++memory.processes;
  }
  return memory;
}

}  // namespace bench
