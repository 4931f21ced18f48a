// sorn-broadcast-indicator: the small "Sharing your screen" window of a running
// broadcast, started by the extension host (see IndicatorProcess.h for its protocol).
// Everything runs on the main thread.
#include <gio/gunixinputstream.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "platform/gobject/ObjectRef.h"
#include "platform/text/Translation.h"

namespace {

using platform::gobject::ObjectRef;

// How long an error stays on screen when nobody dismisses it.
constexpr guint kErrorDisplaySeconds = 30;

struct Indicator {
  GtkWindow* window = nullptr;
  GtkLabel* title = nullptr;
  GtkLabel* detail = nullptr;
  GtkButton* button = nullptr;
  ObjectRef<GDataInputStream> input;
  bool stopSent = false;
  bool showingError = false;
  bool done = false;
};

void quit(Indicator& indicator) {
  indicator.done = true;
  g_main_context_wakeup(nullptr);
}

void sendStop(Indicator& indicator) {
  if (indicator.stopSent) return;
  indicator.stopSent = true;
  std::fputs("stop\n", stdout);
  std::fflush(stdout);
  gtk_label_set_text(indicator.detail, _("Stopping…"));
  gtk_widget_set_sensitive(GTK_WIDGET(indicator.button), FALSE);
}

void showError(Indicator& indicator, const char* description) {
  indicator.showingError = true;
  gtk_window_set_title(indicator.window, _("Screen sharing stopped"));
  gtk_label_set_text(indicator.title, _("Screen sharing stopped"));
  gtk_label_set_text(indicator.detail, description);
  gtk_button_set_label(indicator.button, _("Close"));
  gtk_widget_remove_css_class(GTK_WIDGET(indicator.button), "destructive-action");
  gtk_widget_set_sensitive(GTK_WIDGET(indicator.button), TRUE);
  g_timeout_add_seconds(
      kErrorDisplaySeconds,
      [](gpointer data) -> gboolean {
        quit(*static_cast<Indicator*>(data));
        return G_SOURCE_REMOVE;
      },
      &indicator);
}

void readNextLine(Indicator& indicator);

void onLine(GObject* source, GAsyncResult* result, gpointer data) {
  auto& indicator = *static_cast<Indicator*>(data);
  gsize length = 0;
  g_autofree char* line =
      g_data_input_stream_read_line_finish(G_DATA_INPUT_STREAM(source), result, &length, nullptr);
  if (line == nullptr) {
    // The extension let go of the indicator; an error stays until it is dismissed.
    if (!indicator.showingError) quit(indicator);
    return;
  }
  constexpr const char* kErrorPrefix = "error ";
  if (std::strncmp(line, kErrorPrefix, std::strlen(kErrorPrefix)) == 0) {
    g_autofree char* description = g_strcompress(line + std::strlen(kErrorPrefix));
    showError(indicator, description);
  }
  readNextLine(indicator);
}

void readNextLine(Indicator& indicator) {
  g_data_input_stream_read_line_async(indicator.input.get(), G_PRIORITY_DEFAULT, nullptr, onLine, &indicator);
}

void onButton(GtkButton* /*button*/, gpointer data) {
  auto& indicator = *static_cast<Indicator*>(data);
  if (indicator.showingError) {
    quit(indicator);
  } else {
    sendStop(indicator);
  }
}

gboolean onCloseRequest(GtkWindow* /*window*/, gpointer data) {
  auto& indicator = *static_cast<Indicator*>(data);
  if (indicator.showingError) {
    quit(indicator);
    return FALSE;
  }
  // Closing the indicator ends the broadcast; the window goes when the extension lets go.
  sendStop(indicator);
  return TRUE;
}

GtkLabel* makeLabel(const char* text, const char* cssClass) {
  auto* label = GTK_LABEL(gtk_label_new(text));
  gtk_label_set_wrap(label, TRUE);
  gtk_label_set_max_width_chars(label, 40);
  if (cssClass != nullptr) gtk_widget_add_css_class(GTK_WIDGET(label), cssClass);
  return label;
}

}  // namespace

int main() {
  // The indicator lives in <prefix>/libexec/sorn.
  platform::text::initTranslations("../..");
  // Two labels and a button do not need a GL context; drawing them with Cairo keeps the
  // indicator small. A renderer the user chose is kept.
  g_setenv("GSK_RENDERER", "cairo", FALSE);
  if (gtk_init_check() == FALSE) return 2;
  g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", TRUE, nullptr);

  Indicator indicator;
  indicator.window = GTK_WINDOW(gtk_window_new());
  gtk_window_set_title(indicator.window, _("Sharing your screen"));
  gtk_window_set_resizable(indicator.window, FALSE);

  auto* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_margin_top(box, 18);
  gtk_widget_set_margin_bottom(box, 18);
  gtk_widget_set_margin_start(box, 24);
  gtk_widget_set_margin_end(box, 24);
  indicator.title = makeLabel(_("Sharing your screen"), "title-3");
  indicator.detail = makeLabel(_("Your screen is shared in your Sorn voice channel."), "dim-label");
  indicator.button = GTK_BUTTON(gtk_button_new_with_label(C_("broadcast", "Stop")));
  gtk_widget_add_css_class(GTK_WIDGET(indicator.button), "destructive-action");
  gtk_box_append(GTK_BOX(box), GTK_WIDGET(indicator.title));
  gtk_box_append(GTK_BOX(box), GTK_WIDGET(indicator.detail));
  gtk_box_append(GTK_BOX(box), GTK_WIDGET(indicator.button));
  gtk_window_set_child(indicator.window, box);
  gtk_window_set_default_widget(indicator.window, GTK_WIDGET(indicator.button));

  g_signal_connect(indicator.button, "clicked", G_CALLBACK(onButton), &indicator);
  g_signal_connect(indicator.window, "close-request", G_CALLBACK(onCloseRequest), &indicator);

  auto stdinStream = ObjectRef<GInputStream>::adopt(g_unix_input_stream_new(0, FALSE));
  indicator.input = ObjectRef<GDataInputStream>::adopt(g_data_input_stream_new(stdinStream.get()));
  readNextLine(indicator);

  gtk_window_present(indicator.window);
  while (!indicator.done) g_main_context_iteration(nullptr, TRUE);
  gtk_window_destroy(indicator.window);
  return 0;
}
