// Build tool: writes the widget extension's metadata file (a GLib key file) from the
// bundle itself, so the kinds, names and families it declares are the code's own.
// Usage: sorn-widgets-metadata OUTPUT EXEC
#include <glib.h>

#include <iostream>
#include <string>
#include <vector>

#include "shared/Constants.h"
#include "widgets/SornWidgetBundle.h"

namespace {

constexpr const char* kExtension = "Extension";

std::string widgetGroup(const std::string& kind) { return "Widget " + kind; }

void setList(GKeyFile* file, const std::string& group, const char* key,
             const std::vector<std::string>& values) {
  std::vector<const gchar*> pointers;
  pointers.reserve(values.size());
  for (const std::string& value : values) pointers.push_back(value.c_str());
  g_key_file_set_string_list(file, group.c_str(), key, pointers.data(), pointers.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: sorn-widgets-metadata OUTPUT EXEC\n";
    return 2;
  }
  g_autoptr(GKeyFile) file = g_key_file_new();
  g_key_file_set_string(file, kExtension, "Id", "com.tarnwell.sorn.widgets");
  g_key_file_set_string(file, kExtension, "ExtensionPoint", "com.tarnwell.sorn.widgets");
  g_key_file_set_string(file, kExtension, "Exec", argv[2]);
  g_key_file_set_string(file, kExtension, "Name", "Sorn Widgets");
  g_key_file_set_string(file, kExtension, "Entry", "SornWidgetBundle");
  g_key_file_set_string(file, kExtension, "AppGroup", shared::kSuiteName);

  std::vector<std::string> kinds;
  for (const auto& widget : widgets::SornWidgetBundle().body()) {
    const auto configuration = widget->body();
    const std::string group = widgetGroup(configuration.kind());
    kinds.push_back(configuration.kind());
    g_key_file_set_string(file, group.c_str(), "Name", configuration.configurationDisplayName().c_str());
    g_key_file_set_string(file, group.c_str(), "Description", configuration.description().c_str());
    std::vector<std::string> families;
    for (auto family : configuration.supportedFamilies()) {
      families.emplace_back(platform::widgethost::familyName(family));
    }
    setList(file, group, "Families", families);
  }
  setList(file, kExtension, "Widgets", kinds);

  g_autoptr(GError) error = nullptr;
  const bool saved = g_key_file_save_to_file(file, argv[1], &error) != FALSE;
  if (!saved) std::cerr << "sorn-widgets-metadata: " << error->message << '\n';
  return saved ? 0 : 1;
}
