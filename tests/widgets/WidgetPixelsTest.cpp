#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/widgethost/PlacedWidget.h"
#include "platform/widgethost/SnapshotWriter.h"
#include "shared/Constants.h"
#include "tests/support/TempDataDir.h"
#include "widgets/SornWidgetBundle.h"

namespace widgets {
namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

struct Difference {
  double meanPerChannel = 0;       // 0..255
  double fractionOfPixelsOff = 0;  // pixels with a channel more than 48 apart
};

// Compares two PNG files pixel by pixel; fails the test when they cannot be compared.
Difference compare(const std::filesystem::path& actualFile, const std::filesystem::path& referenceFile) {
  Surface actual(cairo_image_surface_create_from_png(actualFile.c_str()), &cairo_surface_destroy);
  Surface reference(cairo_image_surface_create_from_png(referenceFile.c_str()), &cairo_surface_destroy);
  EXPECT_EQ(cairo_surface_status(actual.get()), CAIRO_STATUS_SUCCESS) << actualFile;
  EXPECT_EQ(cairo_surface_status(reference.get()), CAIRO_STATUS_SUCCESS) << referenceFile;
  const int width = cairo_image_surface_get_width(reference.get());
  const int height = cairo_image_surface_get_height(reference.get());
  EXPECT_EQ(cairo_image_surface_get_width(actual.get()), width);
  EXPECT_EQ(cairo_image_surface_get_height(actual.get()), height);
  if (::testing::Test::HasFailure()) return {255, 1};

  const unsigned char* a = cairo_image_surface_get_data(actual.get());
  const unsigned char* r = cairo_image_surface_get_data(reference.get());
  const int strideA = cairo_image_surface_get_stride(actual.get());
  const int strideR = cairo_image_surface_get_stride(reference.get());
  double total = 0;
  int off = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int worst = 0;
      for (int channel = 0; channel < 4; ++channel) {
        const int delta = std::abs(a[y * strideA + x * 4 + channel] - r[y * strideR + x * 4 + channel]);
        total += delta;
        worst = std::max(worst, delta);
      }
      if (worst > 48) ++off;
    }
  }
  const double pixels = static_cast<double>(width) * height;
  return {total / (pixels * 4), off / pixels};
}

// Writes the three placed widgets and checks each against tests/widgets/reference.
void expectMatchesReference(bool preview) {
  const testsupport::TempDataDir dir;
  if (!preview) {
    // No suite can be opened: the fresh timeline carries the placeholder record.
    std::filesystem::create_directories(dir.suiteFolder(shared::kSuiteName));
    chmod(dir.suiteFolder(shared::kSuiteName).c_str(), 0755);
  }
  const auto out = dir.root() / "out";
  platform::widgethost::SnapshotWriter writer;
  const auto error = writer.writeAll(platform::widgethost::placeWidgets(SornWidgetBundle()), preview, out);
  ASSERT_FALSE(error) << *error;
  for (const char* name : {"SornStreakWidget-systemSmall.png", "SornVoiceWidget-systemSmall.png",
                           "SornVoiceWidget-systemMedium.png"}) {
    const Difference difference =
        compare(out / name, std::filesystem::path(SORN_WIDGETS_REFERENCE_DIR) / name);
    EXPECT_LT(difference.meanPerChannel, 0.5) << name;
    EXPECT_LT(difference.fractionOfPixelsOff, 0.002) << name;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), std::filesystem::directory_iterator()),
            3);
}

TEST(WidgetPixels, GalleryPreviewsMatchTheReferenceImages) { expectMatchesReference(true); }

TEST(WidgetPixels, PlaceholderTimelinesMatchTheReferenceImages) { expectMatchesReference(false); }

}  // namespace
}  // namespace widgets
