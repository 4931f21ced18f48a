#include "platform/screencast/picker/BroadcastChooserSheet.h"

namespace platform::screencast {
namespace {

using Choice = BroadcastChoice;

constexpr const char* kSheetData = "sorn-broadcast-chooser-sheet";
// Closing the window is cancelling: the button, Escape and the window manager all end here.
constexpr const char* kCloseAction = "window.close";

GtkWidget* makeLabel(const char* text, const char* name, const char* cssClass) {
  GtkWidget* label = gtk_label_new(text);
  gtk_widget_set_name(label, name);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0F);
  gtk_label_set_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 40);
  if (cssClass != nullptr) gtk_widget_add_css_class(label, cssClass);
  return label;
}

GtkWidget* makeContentBox() {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_margin_top(box, 24);
  gtk_widget_set_margin_bottom(box, 24);
  gtk_widget_set_margin_start(box, 24);
  gtk_widget_set_margin_end(box, 24);
  return box;
}

GtkWidget* makeCancelButton() {
  GtkWidget* cancel = gtk_button_new_with_label(_(Choice::kCancelLabel));
  gtk_widget_set_name(cancel, Choice::kCancelWidget);
  gtk_actionable_set_action_name(GTK_ACTIONABLE(cancel), kCloseAction);
  return cancel;
}

GtkWidget* makeButtonRow() {
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_widget_set_halign(row, GTK_ALIGN_END);
  gtk_widget_set_margin_top(row, 12);
  return row;
}

GtkWidget* makeMicrophoneRow(GtkWidget* microphoneSwitch) {
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  GtkWidget* label = gtk_label_new(_(Choice::kMicrophoneLabel));
  gtk_label_set_xalign(GTK_LABEL(label), 0.0F);
  gtk_widget_set_hexpand(label, TRUE);
  gtk_widget_set_name(microphoneSwitch, Choice::kMicrophoneSwitchWidget);
  gtk_widget_set_valign(microphoneSwitch, GTK_ALIGN_CENTER);
  gtk_accessible_update_relation(GTK_ACCESSIBLE(microphoneSwitch), GTK_ACCESSIBLE_RELATION_LABELLED_BY, label,
                                 nullptr, -1);
  gtk_box_append(GTK_BOX(row), label);
  gtk_box_append(GTK_BOX(row), microphoneSwitch);
  return row;
}

// The button Enter activates and that holds the focus when the sheet opens.
void makeDefault(GtkWindow* window, GtkWidget* button) {
  gtk_window_set_default_widget(window, button);
  gtk_window_set_focus(window, button);
}

}  // namespace

GtkWindow* BroadcastChooserSheet::present(GtkWindow* parent, const std::string& extensionId,
                                          bool showsMicrophoneButton) {
  GtkWindow* window = GTK_WINDOW(gtk_window_new());
  gtk_window_set_title(window, Choice::kTitle);
  gtk_window_set_modal(window, TRUE);
  gtk_window_set_resizable(window, FALSE);
  if (parent != nullptr) {
    gtk_window_set_transient_for(window, parent);
    gtk_window_set_destroy_with_parent(window, TRUE);
  }

  GtkEventController* shortcuts = gtk_shortcut_controller_new();
  gtk_shortcut_controller_add_shortcut(
      GTK_SHORTCUT_CONTROLLER(shortcuts),
      gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, static_cast<GdkModifierType>(0)),
                       gtk_named_action_new(kCloseAction)));
  gtk_widget_add_controller(GTK_WIDGET(window), shortcuts);

  auto* sheet = new BroadcastChooserSheet(window, extensionId, showsMicrophoneButton);
  g_object_set_data_full(G_OBJECT(window), kSheetData, sheet, destroy);
  sheet->show();
  gtk_window_present(window);
  return window;
}

BroadcastChooserSheet::BroadcastChooserSheet(GtkWindow* window, const std::string& extensionId,
                                             bool showsMicrophoneButton)
    : window_(window), choice_(extensionId, showsMicrophoneButton) {}

void BroadcastChooserSheet::show() {
  GtkWidget* box = makeContentBox();
  if (choice_.offersStart()) {
    gtk_box_append(GTK_BOX(box),
                   makeLabel(choice_.extensionName().c_str(), Choice::kExtensionNameWidget, "title-2"));
  } else {
    gtk_box_append(GTK_BOX(box), makeLabel(_(Choice::kTitle), "sheet-title", "title-2"));
  }
  gtk_box_append(GTK_BOX(box), makeLabel(_(choice_.message()), Choice::kMessageWidget, nullptr));
  // Replacing the child drops the previous widgets, the switch with them.
  microphoneSwitch_ = nullptr;
  if (choice_.showsMicrophoneSwitch()) {
    microphoneSwitch_ = gtk_switch_new();
    gtk_box_append(GTK_BOX(box), makeMicrophoneRow(microphoneSwitch_));
  }

  GtkWidget* buttons = makeButtonRow();
  GtkWidget* cancel = makeCancelButton();
  gtk_box_append(GTK_BOX(buttons), cancel);
  GtkWidget* defaultButton = cancel;
  if (choice_.offersStart()) {
    GtkWidget* start = gtk_button_new_with_label(_(Choice::kStartLabel));
    gtk_widget_set_name(start, Choice::kStartWidget);
    gtk_widget_add_css_class(start, "suggested-action");
    g_signal_connect(start, "clicked", G_CALLBACK(onStartClicked), this);
    gtk_box_append(GTK_BOX(buttons), start);
    defaultButton = start;
  }
  gtk_box_append(GTK_BOX(box), buttons);

  gtk_window_set_child(window_, box);
  makeDefault(window_, defaultButton);
}

void BroadcastChooserSheet::start() {
  const bool microphoneOn =
      microphoneSwitch_ != nullptr && gtk_switch_get_active(GTK_SWITCH(microphoneSwitch_)) != FALSE;
  if (choice_.start(microphoneOn)) {
    gtk_window_destroy(window_);
  } else {
    // Say that the extension is gone instead of closing as if the broadcast had started.
    show();
  }
}

void BroadcastChooserSheet::onStartClicked(GtkButton* /*button*/, gpointer sheet) {
  try {
    static_cast<BroadcastChooserSheet*>(sheet)->start();
  } catch (...) {
    // Out of memory while building the argument list: the sheet stays open as it was.
  }
}

void BroadcastChooserSheet::destroy(gpointer sheet) { delete static_cast<BroadcastChooserSheet*>(sheet); }

}  // namespace platform::screencast
