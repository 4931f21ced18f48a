#include <cairo.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/render/PangoTextEngine.h"
#include "platform/render/Path.h"
#include "platform/render/Symbols.h"
#include "platform/render/ViewRenderer.h"

namespace platform::render {
namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

struct Pixel {
  int red, green, blue, alpha;
};

Pixel pixelAt(cairo_surface_t* surface, int x, int y) {
  cairo_surface_flush(surface);
  const unsigned char* row =
      cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
  std::uint32_t argb = 0;
  std::memcpy(&argb, row + x * 4, 4);
  return {static_cast<int>((argb >> 16) & 0xff), static_cast<int>((argb >> 8) & 0xff),
          static_cast<int>(argb & 0xff), static_cast<int>(argb >> 24)};
}

TEST(Path, ContinuousCornersStayInsideTheirRectangle) {
  struct Case {
    Rect rect;
    double radius;
  };
  for (const Case& c : {Case{{0, 0, 100, 50}, 7}, Case{{10, 20, 30, 12}, 7}, Case{{0, 0, 170, 170}, 22}}) {
    const Path path = continuousRoundedRectangle(c.rect, c.radius);
    double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    for (const auto& element : path.elements) {
      const int used = element.verb == Path::Verb::curveTo ? 3 : element.verb == Path::Verb::close ? 0 : 1;
      for (int i = 0; i < used; ++i) {
        minX = std::min(minX, element.points[i].x);
        minY = std::min(minY, element.points[i].y);
        maxX = std::max(maxX, element.points[i].x);
        maxY = std::max(maxY, element.points[i].y);
      }
    }
    EXPECT_NEAR(minX, c.rect.x, 1e-9);
    EXPECT_NEAR(minY, c.rect.y, 1e-9);
    EXPECT_NEAR(maxX, c.rect.maxX(), 1e-9);
    EXPECT_NEAR(maxY, c.rect.maxY(), 1e-9);
    // The first point is where the top edge's straight part begins.
    EXPECT_GT(path.elements.front().points[0].x, c.rect.x);
    EXPECT_LE(path.elements.front().points[0].x, c.rect.x + c.rect.width / 2 + 1e-9);
  }
}

TEST(Symbols, ScaleWithTheTextAroundThem) {
  for (const char* name : {"waveform", "flame.fill"}) {
    const Size small = Symbols::size(name, 10);
    const Size large = Symbols::size(name, 20);
    EXPECT_GT(small.width, 0) << name;
    EXPECT_DOUBLE_EQ(large.width, 2 * small.width) << name;
    EXPECT_DOUBLE_EQ(large.height, 2 * small.height) << name;
    EXPECT_FALSE(Symbols::path(name, {0, 0, small.width, small.height}).elements.empty()) << name;
  }
  EXPECT_DOUBLE_EQ(Symbols::size("no.such.symbol", 17).width, 0);
  EXPECT_TRUE(Symbols::path("no.such.symbol", {0, 0, 10, 10}).elements.empty());
}

TEST(PangoTextEngine, MeasuresWrapsAndCutsOff) {
  PangoTextEngine engine;
  EXPECT_EQ(engine.familyFor(FontDesign::standard), "Inter") << "fonts-inter is a dependency";
  EXPECT_EQ(engine.familyFor(FontDesign::rounded), "Quicksand") << "fonts-quicksand is a dependency";

  const Text small = Text("Total time you have spent in voice").font(Font::system(10));
  const Text large = Text("Total time you have spent in voice").font(Font::system(20));
  const Text spaced = Text("Total time you have spent in voice").font(Font::system(10)).kerning(2);
  const Size natural = engine.measure(small, {});
  EXPECT_GT(natural.width, 100);
  EXPECT_NEAR(engine.measure(large, {}).width, 2 * natural.width, 2.0);
  EXPECT_NEAR(engine.measure(spaced, {}).width, natural.width + 2 * 34, 3.0);

  // Offered less than its natural width, the text wraps: narrower, taller.
  const Size wrapped = engine.measure(small, {natural.width / 3, std::nullopt});
  EXPECT_LE(wrapped.width, natural.width / 3);
  EXPECT_GE(wrapped.height, 3 * natural.height - 1);
  // Offered too little height as well, it is cut off, but keeps one line.
  const Size cut = engine.measure(small, {natural.width / 3, natural.height * 1.5});
  EXPECT_LE(cut.height, natural.height * 1.5);
  EXPECT_GE(cut.height, natural.height - 0.01);
  const Size oneLine = engine.measure(small, {natural.width / 3, 1.0});
  EXPECT_NEAR(oneLine.height, natural.height, 0.01);
  // More room than needed changes nothing.
  const Size roomy = engine.measure(small, {natural.width * 2, 500.0});
  EXPECT_DOUBLE_EQ(roomy.width, natural.width);
  EXPECT_DOUBLE_EQ(roomy.height, natural.height);
}

TEST(ViewRenderer, DrawsExactColoursClippedToContinuousCorners) {
  const Color fill = Color::sRGB8(68, 69, 74);
  const Color ink = Color::sRGB8(236, 238, 245);
  const Text text = Text("MMMM").font(Font::system(30, FontWeight::heavy)).foregroundStyle(ink);
  // Content well inside the corners, and content that reaches into them (its corner
  // pixels must be clipped away all the same).
  for (double padding : {10.0, 0.0}) {
    const View view = View(text).padding(padding).background(fill).clipShape({12});
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 400, 200), &cairo_surface_destroy);
    Context cairo(cairo_create(surface.get()), &cairo_destroy);
    cairo_scale(cairo.get(), 2, 2);
    ViewRenderer renderer;
    const LaidOutView placed = renderer.layout(view, {200, 100});
    renderer.render(cairo.get(), view, {200, 100});
    const Rect frame = placed.frame;
    const int left = static_cast<int>(frame.x * 2);
    const int top = static_cast<int>(frame.y * 2);

    EXPECT_EQ(pixelAt(surface.get(), left, top).alpha, 0) << padding;
    EXPECT_EQ(pixelAt(surface.get(), left, static_cast<int>(frame.maxY() * 2) - 1).alpha, 0) << padding;
    if (padding > 0) {
      const Pixel inside =
          pixelAt(surface.get(), left + 10, static_cast<int>((frame.y + frame.height / 2) * 2));
      EXPECT_EQ(inside.red, 68);
      EXPECT_EQ(inside.green, 69);
      EXPECT_EQ(inside.blue, 74);
      EXPECT_EQ(inside.alpha, 255);
    }
    // Somewhere in the text's frame the ink shows at full strength.
    const LaidOutView* drawn = findText(placed, "MMMM");
    ASSERT_NE(drawn, nullptr);
    bool inked = false;
    for (int y = static_cast<int>(drawn->frame.y * 2);
         y < static_cast<int>(drawn->frame.maxY() * 2) && !inked; ++y) {
      for (int x = static_cast<int>(drawn->frame.x * 2); x < static_cast<int>(drawn->frame.maxX() * 2); ++x) {
        const Pixel p = pixelAt(surface.get(), x, y);
        if (p.red == 236 && p.green == 238 && p.blue == 245) {
          inked = true;
          break;
        }
      }
    }
    EXPECT_TRUE(inked) << padding;
    // Nothing outside the view's frame is touched.
    EXPECT_EQ(pixelAt(surface.get(), 1, 1).alpha, 0) << padding;
  }
}

}  // namespace
}  // namespace platform::render
