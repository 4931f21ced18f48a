#pragma once

#include <gtk/gtk.h>

namespace platform::screencast {

// Properties of the picker view.
inline constexpr const char* kPreferredExtensionProperty = "preferred-extension";
inline constexpr const char* kShowsMicrophoneButtonProperty = "shows-microphone-button";

// The broadcast picker view ("SornBroadcastPickerView"): a widget whose one direct child
// is a button; pressing the button shows the chooser sheet for the preferred extension
// over the picker's window. Its button fills the picker and is clipped to it, so the
// picker can be as small as its owner makes it. Main thread.
GType broadcastPickerViewType();

// A new picker view (a floating reference, like every new widget).
GtkWidget* createBroadcastPickerView();

// The chooser sheet the picker has open, or null.
GtkWindow* broadcastPickerOpenSheet(GtkWidget* picker);

}  // namespace platform::screencast
