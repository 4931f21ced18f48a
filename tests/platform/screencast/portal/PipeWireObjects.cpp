#include "tests/platform/screencast/portal/PipeWireObjects.h"

#include <glib.h>

#include <nlohmann/json.hpp>

namespace testsupport {

std::optional<std::uint32_t> findPipeWireObject(const std::string& type, const std::string& key,
                                                const std::string& value,
                                                const std::vector<std::string>& environment) {
  g_autofree gchar* program = g_find_program_in_path("pw-dump");
  if (program == nullptr) return std::nullopt;
  std::vector<gchar*> argv{program, nullptr};
  std::vector<gchar*> envp;
  for (const auto& entry : environment) envp.push_back(const_cast<gchar*>(entry.c_str()));
  envp.push_back(nullptr);
  g_autofree gchar* output = nullptr;
  gint status = 0;
  if (!g_spawn_sync(nullptr, argv.data(), envp.data(), G_SPAWN_STDERR_TO_DEV_NULL, nullptr, nullptr, &output,
                    nullptr, &status, nullptr) ||
      !g_spawn_check_wait_status(status, nullptr)) {
    return std::nullopt;
  }
  const auto graph = nlohmann::json::parse(output, nullptr, false);
  if (!graph.is_array()) return std::nullopt;
  for (const auto& object : graph) {
    if (!object.is_object() || object.value("type", "") != type) continue;
    const auto props = object.find("info");
    if (props == object.end() || !props->contains("props")) continue;
    const auto& properties = (*props)["props"];
    const auto entry = properties.find(key);
    const auto id = object.find("id");
    if (entry != properties.end() && entry->is_string() && *entry == value && id != object.end() &&
        id->is_number_unsigned()) {
      return id->get<std::uint32_t>();
    }
  }
  return std::nullopt;
}

}  // namespace testsupport
