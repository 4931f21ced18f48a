// What the widgets' pictures (SornWidgetsProgram.Pictures...) do not show: texts
// that share a row and wrap or are cut off, edges padded unequally, trailing alignment, a
// spacer with no room left, and content clipped where it reaches into the corners.
#include <cairo.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <set>

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

// Content reaching into the corners is drawn through a clip: no pixel in the corners, the
// background and the ink in their exact colours. (Content well inside them: the pictures.)
TEST(ViewRenderer, DrawsExactColoursClippedToContinuousCorners) {
  const Text text =
      Text("MMMM").font(Font::system(30, FontWeight::heavy)).foregroundStyle(Color::sRGB8(236, 238, 245));
  const View view = View(text).background(Color::sRGB8(68, 69, 74)).clipShape({12});
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 200, 100), &cairo_surface_destroy);
  cairo_t* cairo = cairo_create(surface.get());
  ViewRenderer renderer;
  renderer.render(cairo, view, {200, 100});
  cairo_destroy(cairo);
  cairo_surface_flush(surface.get());
  // As 0xAARRGGBB, row by row.
  const auto* pixels = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface.get()));
  const auto at = [&](double x, double y) { return pixels[static_cast<int>(y) * 200 + static_cast<int>(x)]; };
  const Rect frame = renderer.layout(view, {200, 100}).frame;
  EXPECT_EQ(at(frame.x, frame.y) | at(frame.maxX() - 1, frame.maxY() - 1) | at(0, 0), 0u);
  const std::set<std::uint32_t> colours(pixels, pixels + 200 * 100);
  EXPECT_TRUE(colours.contains(0xff44454au) && colours.contains(0xffeceef5u));
}

}  // namespace
}  // namespace platform::render
