#pragma once

#include <gtk/gtk.h>

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// The first widget named `name` in the tree under `root` (root included), or null.
inline GtkWidget* findWidget(GtkWidget* root, std::string_view name) {
  if (name == gtk_widget_get_name(root)) return root;
  GtkWidget* found = nullptr;
  for (GtkWidget* child = gtk_widget_get_first_child(root); child != nullptr && found == nullptr;
       child = gtk_widget_get_next_sibling(child)) {
    found = findWidget(child, name);
  }
  return found;
}

// The labels of every button under `root`, in tree order.
inline std::vector<std::string> buttonLabels(GtkWidget* root) {
  std::vector<std::string> labels;
  if (GTK_IS_BUTTON(root)) labels.emplace_back(gtk_button_get_label(GTK_BUTTON(root)));
  for (GtkWidget* child = gtk_widget_get_first_child(root); child != nullptr;
       child = gtk_widget_get_next_sibling(child)) {
    for (auto& label : buttonLabels(child)) labels.push_back(label);
  }
  return labels;
}

}  // namespace testsupport
