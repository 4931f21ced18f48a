#include "platform/widgethost/SnapshotWriter.h"

#include <cmath>
#include <memory>

#include "platform/widgethost/Clock.h"
#include "platform/widgethost/TimelineSchedule.h"

namespace platform::widgethost {
namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

// The entry the placed widget shows now, asked of its provider afresh.
std::optional<render::View> currentView(const PlacedWidget& widget, bool preview) {
  std::optional<render::View> shown;
  if (preview) {
    widget.configuration.getSnapshot(widget.context(true),
                                     [&shown](EntryView entry) { shown = std::move(entry.view); });
    return shown;
  }
  widget.configuration.getTimeline(widget.context(false), [&shown](ViewTimeline timeline) {
    if (auto due = TimelineSchedule::entryDue(timeline, Clock::system().now()))
      shown = timeline.entries[*due].view;
  });
  return shown;
}

}  // namespace

std::optional<std::string> SnapshotWriter::write(const render::View& view, WidgetFamily family,
                                                 const std::filesystem::path& file) {
  const render::Size size = displaySize(family);
  Surface surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(std::lround(size.width * scale)),
                                 static_cast<int>(std::lround(size.height * scale))),
      &cairo_surface_destroy);
  {
    Context cairo(cairo_create(surface.get()), &cairo_destroy);
    cairo_scale(cairo.get(), scale, scale);
    painter_.paint(cairo.get(), view, {0, 0, size.width, size.height});
  }
  const cairo_status_t status = cairo_surface_write_to_png(surface.get(), file.c_str());
  if (status != CAIRO_STATUS_SUCCESS)
    return "cannot write " + file.string() + ": " + cairo_status_to_string(status);
  return std::nullopt;
}

std::optional<std::string> SnapshotWriter::writeAll(const std::vector<PlacedWidget>& placed, bool preview,
                                                    const std::filesystem::path& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) return "cannot make the folder " + directory.string() + ": " + error.message();
  for (const PlacedWidget& widget : placed) {
    const std::optional<render::View> view = currentView(widget, preview);
    if (!view) return widget.configuration.kind() + " gave no entry to show";
    if (auto failure = write(*view, widget.family, directory / widget.snapshotFileName())) return failure;
  }
  return std::nullopt;
}

}  // namespace platform::widgethost
