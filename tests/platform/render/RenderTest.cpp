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

using Frames = std::vector<std::array<double, 4>>;

// Every character 6 points wide, lines 10 points high; wraps at whole characters and
// cuts lines off at the offered height. Predictable, so the stack rules show plainly.
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

// The frames of a laid-out tree, depth first, to a thousandth of a point.
void collectFrames(const LaidOutView& view, Frames& frames) {
  const auto round = [](double value) { return std::round(value * 1000) / 1000; };
  frames.push_back(
      {round(view.frame.x), round(view.frame.y), round(view.frame.width), round(view.frame.height)});
  for (const LaidOutView& child : view.children) collectFrames(child, frames);
}

TEST(Layout, StacksShareTheirLengthAsDeclaredAndModifiersWrapTheirContent) {
  using H = HorizontalAlignment;
  using V = VerticalAlignment;
  const View framed =
      View(Text("abc"))
          .padding(EdgeInsets{1, 2, 3, 4})
          .frame({.maxWidth = infinity, .maxHeight = infinity, .alignment = Alignment::leading()});
  // Each view is centred in its container with the size it takes.
  // clang-format off
  const std::vector<std::tuple<View, Size, Frames>> cases = {
      // A text keeps its natural width; the spacer takes the rest, so the row spans.
      {HStack{V::center, 5, {Text("abcde"), Spacer{}}}, {100, 40}, {{0, 15, 100, 10}, {0, 15, 30, 10}, {35, 20, 65, 0}}},
      // Two texts that do not both fit share the length equally and wrap.
      {HStack{V::top, 0, {Text("aaaaaaaaaa"), Text("bbbbbbbbbb")}}, {60, 40}, {{0, 10, 60, 20}, {0, 10, 30, 20}, {30, 10, 30, 20}}},
      // The fixed symbol is served first; the text gets what is left.
      {HStack{V::center, 4, {Image::systemName("waveform"), Text("aaaaaaaaaaaaaaaaaaaa")}}, {60, 40},
       {{2.8, 0, 54.4, 40}, {2.8, 11.925, 20.4, 16.15}, {27.2, 0, 30, 40}}},
      // Spacing between children; cross alignment per stack.
      {VStack{H::trailing, 8, {Text("ab"), Text("abcd")}}, {100, 100}, {{38, 36, 24, 28}, {50, 36, 12, 10}, {38, 54, 24, 10}}},
      // A spacer with no minimum pushes what follows to the end.
      {VStack{H::leading, 6, {Text("top"), Spacer{0}, Text("end")}}, {50, 100},
       {{16, 0, 18, 100}, {16, 0, 18, 10}, {16, 16, 0, 68}, {16, 90, 18, 10}}},
      // A spacer keeps its minimum length even when nothing is left.
      {HStack{V::center, 0, {Text("aaaaaaaaaaaaaaaaaaaa"), Spacer{}}}, {50, 100}, {{0, 35, 50, 30}, {0, 35, 42, 30}, {42, 50, 8, 0}}},
      // An infinite frame fills the container, its content (padded per edge) at the leading
      // edge, centred vertically.
      {framed, {200, 100}, {{0, 0, 200, 100}, {0, 43, 24, 14}, {2, 44, 18, 10}}},
      // Padding, background and clip take their content's size.
      {View(Text("abc")).padding(5).background(Color::sRGB8(1, 2, 3)).clipShape({7}), {200, 100},
       {{86, 40, 28, 20}, {86, 40, 28, 20}, {86, 40, 28, 20}, {91, 45, 18, 10}}},
  };
  // clang-format on
  for (const auto& [view, container, expected] : cases) {
    FixedMeasurer measurer;
    Frames frames;
    collectFrames(Layout(measurer).place(view, container), frames);
    EXPECT_EQ(frames, expected);
  }
}

TEST(PangoTextEngine, MeasuresWrapsAndCutsOff) {
  PangoTextEngine engine;
  // Runs keep their layouts by address until forgetLayouts(): three live texts.
  const Text small = Text("Total time you have spent in voice").font(Font::system(10));
  const Text large = small.font(Font::system(20)), spaced = small.kerning(2);
  const Size natural = engine.measure(small, {});
  EXPECT_NEAR(engine.measure(large, {}).width, 2 * natural.width, 2.0);
  EXPECT_NEAR(engine.measure(spaced, {}).width, natural.width + 2 * 34, 3.0);
  // Offered less than its natural width, the text wraps: narrower, taller; offered too
  // little height as well, it is cut off, but keeps one line.
  const Size wrapped = engine.measure(small, {natural.width / 3, std::nullopt});
  EXPECT_TRUE(wrapped.width <= natural.width / 3 && wrapped.height >= 3 * natural.height - 1);
  const Size cut = engine.measure(small, {natural.width / 3, natural.height * 1.5});
  EXPECT_TRUE(cut.height <= natural.height * 1.5 && cut.height >= natural.height - 0.01);
  EXPECT_NEAR(engine.measure(small, {natural.width / 3, 1.0}).height, natural.height, 0.01);
  // More room than needed changes nothing.
  const Size roomy = engine.measure(small, {natural.width * 2, 500.0});
  EXPECT_EQ((std::array{roomy.width, roomy.height}), (std::array{natural.width, natural.height}));
}

TEST(ViewRenderer, DrawsExactColoursClippedToContinuousCorners) {
  const Text text =
      Text("MMMM").font(Font::system(30, FontWeight::heavy)).foregroundStyle(Color::sRGB8(236, 238, 245));
  // Content well inside the corners, and content reaching into them (its corner pixels
  // must be clipped away all the same).
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
    // Nothing in the clipped corners nor outside the view's frame is touched.
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
