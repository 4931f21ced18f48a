#include "tests/platform/screencast/picker/WidgetSearch.h"

namespace testsupport {

GtkWidget* findWidgetByName(GtkWidget* root, std::string_view name) {
  if (root == nullptr) return nullptr;
  if (name == gtk_widget_get_name(root)) return root;
  for (GtkWidget* child = gtk_widget_get_first_child(root); child != nullptr;
       child = gtk_widget_get_next_sibling(child)) {
    if (GtkWidget* found = findWidgetByName(child, name)) return found;
  }
  return nullptr;
}

std::vector<GtkWidget*> findButtons(GtkWidget* root) {
  std::vector<GtkWidget*> buttons;
  if (root == nullptr) return buttons;
  if (GTK_IS_BUTTON(root)) buttons.push_back(root);
  for (GtkWidget* child = gtk_widget_get_first_child(root); child != nullptr;
       child = gtk_widget_get_next_sibling(child)) {
    const auto below = findButtons(child);
    buttons.insert(buttons.end(), below.begin(), below.end());
  }
  return buttons;
}

}  // namespace testsupport
