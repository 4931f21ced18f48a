// What the widgets' pictures (SornWidgetsProgram.PicturesOfTheWidgets) do not show: texts
// that share a row and wrap or are cut off, edges padded unequally, trailing alignment, a
// spacer with no room left, exact colours and the clipped corners.
#include <cairo.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>

#include "platform/render/Layout.h"
#include "platform/render/PangoTextEngine.h"
#include "platform/render/ViewRenderer.h"

namespace platform::render {
namespace {

// Every character 6 points wide, lines 10 points high; wraps at whole characters and
// cuts lines off at the offered height.
class FixedMeasurer final : public TextMeasurer {
 public:
  Size measure(const Text& text, ProposedSize proposal) override {
    const double natural = 6.0 * static_cast<double>(text.content.size());
    if (!proposal.width || *proposal.width >= natural) return {natural, 10};
    const double perLine = std::max(1.0, std::floor(*proposal.width / 6));
    double lines = std::ceil(static_cast<double>(text.content.size()) / perLine);
    if (proposal.height) lines = std::max(1.0, std::min(lines, std::floor(*proposal.height / 10)));
    return {perLine * 6, lines * 10};
  }
};

TEST(Layout, StacksShareTheirLengthAsDeclaredAndModifiersWrapTheirContent) {
  using Frames = std::vector<std::array<double, 4>>;
  using V = VerticalAlignment;
  // The frames of a laid-out tree, depth first.
  const auto collect = [](const LaidOutView& view, Frames& frames, const auto& self) -> void {
    frames.push_back({view.frame.x, view.frame.y, view.frame.width, view.frame.height});
    for (const LaidOutView& child : view.children) self(child, frames, self);
  };
  // Each view is centred in its container with the size it takes.
  // clang-format off
  const std::vector<std::tuple<View, Size, Frames>> cases = {
      // Two texts that do not both fit share the length equally and wrap.
      {HStack{V::top, 0, {Text("aaaaaaaaaa"), Text("bbbbbbbbbb")}}, {60, 40}, {{0, 10, 60, 20}, {0, 10, 30, 20}, {30, 10, 30, 20}}},
      // Spacing between children; cross alignment per stack.
      {VStack{HorizontalAlignment::trailing, 8, {Text("ab"), Text("abcd")}}, {100, 100}, {{38, 36, 24, 28}, {50, 36, 12, 10}, {38, 54, 24, 10}}},
      // A spacer keeps its minimum length even when nothing is left.
      {HStack{V::center, 0, {Text("aaaaaaaaaaaaaaaaaaaa"), Spacer{}}}, {50, 100}, {{0, 35, 50, 30}, {0, 35, 42, 30}, {42, 50, 8, 0}}},
      // Padding per edge.
      {View(Text("abc")).padding(EdgeInsets{1, 2, 3, 4}), {200, 100}, {{88, 43, 24, 14}, {90, 44, 18, 10}}},
  };
  // clang-format on
  for (const auto& [view, container, expected] : cases) {
    FixedMeasurer measurer;
    Frames frames;
    collect(Layout(measurer).place(view, container), frames, collect);
    EXPECT_EQ(frames, expected);
  }
}

TEST(PangoTextEngine, WrapsAndCutsOffInLessRoomThanItNeeds) {
  PangoTextEngine engine;
  const Text text = Text("Total time you have spent in voice").font(Font::system(10));
  const Size natural = engine.measure(text, {});
  const Size wrapped = engine.measure(text, {natural.width / 3, std::nullopt});
  EXPECT_TRUE(wrapped.width <= natural.width / 3 && wrapped.height >= 3 * natural.height - 1);
  // Cut off at the offered height, but never below one line.
  const Size cut = engine.measure(text, {natural.width / 3, natural.height * 1.5});
  EXPECT_TRUE(cut.height <= natural.height * 1.5 && cut.height >= natural.height - 0.01);
  EXPECT_NEAR(engine.measure(text, {natural.width / 3, 1.0}).height, natural.height, 0.01);
}

TEST(ViewRenderer, DrawsExactColoursClippedToContinuousCorners) {
  const Text text =
      Text("MMMM").font(Font::system(30, FontWeight::heavy)).foregroundStyle(Color::sRGB8(236, 238, 245));
  // Content well inside the corners (drawn as a filled shape), and content reaching into
  // them (drawn through a clip): no pixel in the corners either way.
  for (double padding : {10.0, 0.0}) {
    const View view = View(text).padding(padding).background(Color::sRGB8(68, 69, 74)).clipShape({12});
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 400, 200), &cairo_surface_destroy);
    cairo_t* cairo = cairo_create(surface.get());
    cairo_scale(cairo, 2, 2);
    ViewRenderer renderer;
    const LaidOutView placed = renderer.layout(view, {200, 100});
    renderer.render(cairo, view, {200, 100});
    cairo_destroy(cairo);
    cairo_surface_flush(surface.get());
    // Pixel colours at points of the layout, as 0xAARRGGBB.
    const auto pixel = [&](double x, double y) {
      const unsigned char* row = cairo_image_surface_get_data(surface.get()) +
                                 static_cast<int>(y * 2) * cairo_image_surface_get_stride(surface.get());
      return reinterpret_cast<const std::uint32_t*>(row)[static_cast<int>(x * 2)];
    };
    const Rect frame = placed.frame;
    EXPECT_EQ(pixel(frame.x, frame.y) | pixel(frame.x, frame.maxY() - 0.5) | pixel(0.5, 0.5), 0u) << padding;
    EXPECT_TRUE(padding == 0 || pixel(frame.x + 5, frame.y + frame.height / 2) == 0xff44454au);
    // Somewhere in the text's frame the ink shows at full strength.
    const LaidOutView* drawn = findText(placed, "MMMM");
    ASSERT_NE(drawn, nullptr);
    bool inked = false;
    for (double y = drawn->frame.y; y < drawn->frame.maxY() && !inked; y += 0.5) {
      for (double x = drawn->frame.x; x < drawn->frame.maxX() && !inked; x += 0.5)
        inked = pixel(x, y) == 0xffeceef5u;
    }
    EXPECT_TRUE(inked) << padding;
  }
}

}  // namespace
}  // namespace platform::render
