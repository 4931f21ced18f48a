// Baseline for the host's memory: a bare GTK 4 window with one drawing area that
// fills itself, running until SIGTERM.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>

namespace {

void draw(GtkDrawingArea* /*area*/, cairo_t* cairo, int width, int height, gpointer /*data*/) {
  cairo_set_source_rgb(cairo, 0.1, 0.1, 0.15);
  cairo_rectangle(cairo, 0, 0, width, height);
  cairo_fill(cairo);
}

gboolean quit(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main() {
  if (!gtk_init_check()) return 1;
  GtkWidget* window = gtk_window_new();
  GtkWidget* area = gtk_drawing_area_new();
  gtk_drawing_area_set_content_width(GTK_DRAWING_AREA(area), 412);
  gtk_drawing_area_set_content_height(GTK_DRAWING_AREA(area), 412);
  gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(area), &draw, nullptr, nullptr);
  gtk_window_set_child(GTK_WINDOW(window), area);
  gtk_window_present(GTK_WINDOW(window));
  g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGTERM, &quit, loop);
  g_main_loop_run(loop);
  gtk_window_destroy(GTK_WINDOW(window));
  return 0;
}
