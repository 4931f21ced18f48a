#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/widgethost/PlacedWidget.h"
#include "platform/widgethost/TilePainter.h"

namespace platform::widgethost {

// Writes PNG pictures of placed widgets: the tile at two pixels a point, transparent
// around its rounded corners. On the calling thread.
class SnapshotWriter {
 public:
  static constexpr int scale = 2;

  // One picture of the view in the family's size; the error's text when it failed.
  std::optional<std::string> write(const render::View& view, WidgetFamily family,
                                   const std::filesystem::path& file);

  // One file per placed widget (PlacedWidget::snapshotFileName) in `directory`, made
  // if missing: the entry due now of a fresh timeline, or with `preview` the gallery's
  // snapshot. The first error's text when one failed.
  std::optional<std::string> writeAll(const std::vector<PlacedWidget>& placed, bool preview,
                                      const std::filesystem::path& directory);

 private:
  TilePainter painter_;
};

}  // namespace platform::widgethost
