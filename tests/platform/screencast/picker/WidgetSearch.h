#pragma once

#include <gtk/gtk.h>

#include <string_view>
#include <vector>

namespace testsupport {

// The first widget named `name` in the tree under `root` (root included), or null.
GtkWidget* findWidgetByName(GtkWidget* root, std::string_view name);

// Every button in the tree under `root`, in tree order.
std::vector<GtkWidget*> findButtons(GtkWidget* root);

}  // namespace testsupport
