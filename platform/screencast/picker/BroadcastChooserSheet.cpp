#include "platform/screencast/picker/BroadcastChooserSheet.h"

#include <utility>
#include <vector>

#include "platform/screencast/picker/ExtensionLauncher.h"
#include "platform/screencast/picker/ExtensionLookup.h"

namespace platform::screencast {
namespace {

constexpr const char* kTitle = "Screen Broadcast";
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
  GtkWidget* cancel = gtk_button_new_with_label("Cancel");
  gtk_widget_set_name(cancel, BroadcastChooserSheet::kCancelWidget);
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
  GtkWidget* label = gtk_label_new("Microphone");
  gtk_label_set_xalign(GTK_LABEL(label), 0.0F);
  gtk_widget_set_hexpand(label, TRUE);
  gtk_widget_set_name(microphoneSwitch, BroadcastChooserSheet::kMicrophoneSwitchWidget);
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
  gtk_window_set_title(window, kTitle);
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

  // The extension is looked up each time the sheet opens, so one installed while the app
  // runs is found without a restart.
  auto* sheet = new BroadcastChooserSheet(window, findExtension(extensionId), showsMicrophoneButton);
  g_object_set_data_full(G_OBJECT(window), kSheetData, sheet, destroy);
  if (sheet->extension_) {
    sheet->showChoice();
  } else {
    sheet->showUnavailable();
  }
  gtk_window_present(window);
  return window;
}

BroadcastChooserSheet::BroadcastChooserSheet(GtkWindow* window, std::optional<ExtensionMetadata> extension,
                                             bool showsMicrophoneButton)
    : window_(window), extension_(std::move(extension)), showsMicrophoneButton_(showsMicrophoneButton) {}

void BroadcastChooserSheet::showChoice() {
  GtkWidget* box = makeContentBox();
  gtk_box_append(GTK_BOX(box), makeLabel(extension_->name.c_str(), kExtensionNameWidget, "title-2"));
  gtk_box_append(GTK_BOX(box), makeLabel("Everything on your screen will be shared while the broadcast runs.",
                                         kMessageWidget, nullptr));
  microphoneSwitch_ = nullptr;
  if (showsMicrophoneButton_) {
    microphoneSwitch_ = gtk_switch_new();
    gtk_box_append(GTK_BOX(box), makeMicrophoneRow(microphoneSwitch_));
  }

  GtkWidget* start = gtk_button_new_with_label("Start Broadcast");
  gtk_widget_set_name(start, kStartWidget);
  gtk_widget_add_css_class(start, "suggested-action");
  g_signal_connect(start, "clicked", G_CALLBACK(onStartClicked), this);
  GtkWidget* buttons = makeButtonRow();
  gtk_box_append(GTK_BOX(buttons), makeCancelButton());
  gtk_box_append(GTK_BOX(buttons), start);
  gtk_box_append(GTK_BOX(box), buttons);

  gtk_window_set_child(window_, box);
  makeDefault(window_, start);
}

void BroadcastChooserSheet::showUnavailable() {
  GtkWidget* box = makeContentBox();
  gtk_box_append(GTK_BOX(box), makeLabel(kTitle, "sheet-title", "title-2"));
  gtk_box_append(GTK_BOX(box), makeLabel("No broadcast extension is available.", kMessageWidget, nullptr));
  GtkWidget* cancel = makeCancelButton();
  GtkWidget* buttons = makeButtonRow();
  gtk_box_append(GTK_BOX(buttons), cancel);
  gtk_box_append(GTK_BOX(box), buttons);

  // Replacing the child drops the choice's widgets, the switch with them.
  microphoneSwitch_ = nullptr;
  gtk_window_set_child(window_, box);
  makeDefault(window_, cancel);
}

void BroadcastChooserSheet::start() {
  std::vector<std::string> arguments{"--capture=screen"};
  if (microphoneSwitch_ != nullptr && gtk_switch_get_active(GTK_SWITCH(microphoneSwitch_)) != FALSE) {
    arguments.emplace_back("--microphone");
  }
  if (launchExtension(*extension_, arguments)) {
    gtk_window_destroy(window_);
  } else {
    // The program went away since the sheet opened, or cannot run: say so instead of
    // closing as if the broadcast had started.
    extension_.reset();
    showUnavailable();
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
