#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/render/Layout.h"

namespace platform::render {
namespace {

// Every character 6 points wide, lines 10 points high; wraps at whole characters and
// cuts lines off at the offered height. Predictable, so the stack rules show plainly.
class FixedMeasurer final : public TextMeasurer {
 public:
  static constexpr double charWidth = 6;
  static constexpr double lineHeight = 10;

  Size measure(const Text& text, ProposedSize proposal) override {
    const double natural = charWidth * static_cast<double>(text.content.size());
    if (!proposal.width || *proposal.width >= natural) return {natural, lineHeight};
    const double perLine = std::max(1.0, std::floor(*proposal.width / charWidth));
    double lines = std::ceil(static_cast<double>(text.content.size()) / perLine);
    if (proposal.height) lines = std::max(1.0, std::min(lines, std::floor(*proposal.height / lineHeight)));
    return {perLine * charWidth, lines * lineHeight};
  }
};

struct Placed {
  LaidOutView root;
  const LaidOutView& child(std::size_t i) const { return root.children.at(i); }
};

Placed place(const View& view, Size container) {
  FixedMeasurer measurer;
  return {Layout(measurer).place(view, container)};
}

void expectRect(const Rect& actual, const Rect& expected, const std::string& what) {
  EXPECT_DOUBLE_EQ(actual.x, expected.x) << what;
  EXPECT_DOUBLE_EQ(actual.y, expected.y) << what;
  EXPECT_DOUBLE_EQ(actual.width, expected.width) << what;
  EXPECT_DOUBLE_EQ(actual.height, expected.height) << what;
}

TEST(Layout, StacksShareTheirLengthAsDeclared) {
  struct Case {
    std::string name;
    View view;
    Size container;
    std::vector<Rect> children;  // frames of the root's children, from the root's origin
  };
  const std::vector<Case> cases = {
      // A text keeps its natural width; the spacer takes the rest, so the row spans.
      {"text then spacer",
       HStack{VerticalAlignment::center, 5, {Text("abcde"), Spacer{}}},
       {100, 40},
       {{0, 0, 30, 10}, {35, 5, 65, 0}}},
      // Two texts that do not both fit share the length equally and wrap.
      {"two long texts",
       HStack{VerticalAlignment::top, 0, {Text("aaaaaaaaaa"), Text("bbbbbbbbbb")}},
       {60, 40},
       {{0, 0, 30, 20}, {30, 0, 30, 20}}},
      // The fixed symbol is served first; the text gets what is left.
      {"symbol then text",
       HStack{VerticalAlignment::center, 4, {Image::systemName("waveform"), Text("aaaaaaaaaaaaaaaaaaaa")}},
       {60, 40},
       {{0, 11.925, 20.4, 16.15}, {24.4, 0, 30, 40}}},
      // Spacing between children; cross alignment per stack.
      {"leading column",
       VStack{HorizontalAlignment::leading, 8, {Text("ab"), Text("abcd")}},
       {100, 100},
       {{0, 0, 12, 10}, {0, 18, 24, 10}}},
      {"trailing column",
       VStack{HorizontalAlignment::trailing, 8, {Text("ab"), Text("abcd")}},
       {100, 100},
       {{12, 0, 12, 10}, {0, 18, 24, 10}}},
      // A spacer with no minimum pushes what follows to the end.
      {"bottom line",
       VStack{HorizontalAlignment::leading, 6, {Text("top"), Spacer{0}, Text("end")}},
       {50, 100},
       {{0, 0, 18, 10}, {0, 16, 0, 68}, {0, 90, 18, 10}}},
      // A spacer keeps its minimum length even when nothing is left.
      {"spacer minimum",
       HStack{VerticalAlignment::center, 0, {Text("aaaaaaaaaaaaaaaaaaaa"), Spacer{}}},
       {50, 100},
       {{0, 0, 42, 30}, {42, 15, 8, 0}}},
  };
  for (const Case& c : cases) {
    const Placed placed = place(c.view, c.container);
    ASSERT_EQ(placed.root.children.size(), c.children.size()) << c.name;
    for (std::size_t i = 0; i < c.children.size(); ++i) {
      Rect expected = c.children[i];
      expected.x += placed.root.frame.x;
      expected.y += placed.root.frame.y;
      expectRect(placed.child(i).frame, expected, c.name + " child " + std::to_string(i));
    }
  }
}

TEST(Layout, ModifiersPadFrameAndWrap) {
  const View framed =
      View(Text("abc"))
          .padding(EdgeInsets{1, 2, 3, 4})
          .frame({.maxWidth = infinity, .maxHeight = infinity, .alignment = Alignment::leading()});
  const View padded = View(Text("abc")).padding(14);
  const View coloured = View(Text("abc")).padding(5).background(Color::sRGB8(1, 2, 3)).clipShape({7});

  struct Case {
    std::string name;
    View view;
    std::vector<Rect> path;  // frames from the root down the first children
  };
  const std::vector<Case> cases = {
      // An infinite frame fills the container and puts its content at the leading edge,
      // centred vertically.
      {"frame", framed, {{0, 0, 200, 100}, {0, 43, 24, 14}, {2, 44, 18, 10}}},
      // Padding adds its insets around the content; the whole is centred.
      {"padding", padded, {{77, 31, 46, 38}, {91, 45, 18, 10}}},
      // Background and clip take their content's size.
      {"background", coloured, {{86, 40, 28, 20}, {86, 40, 28, 20}, {86, 40, 28, 20}, {91, 45, 18, 10}}},
  };
  for (const Case& c : cases) {
    const Placed placed = place(c.view, {200, 100});
    const LaidOutView* node = &placed.root;
    for (std::size_t depth = 0; depth < c.path.size(); ++depth) {
      ASSERT_NE(node, nullptr) << c.name;
      expectRect(node->frame, c.path[depth], c.name + " depth " + std::to_string(depth));
      node = node->children.empty() ? nullptr : &node->children.front();
    }
  }
}

TEST(Layout, FindsTextsAndContainerBackground) {
  const Color colour = Color::sRGB8(57, 58, 63);
  const View view = View(VStack{HorizontalAlignment::leading,
                                0,
                                {Text("one"), HStack{VerticalAlignment::center, 0, {Text("two")}}}})
                        .padding(3)
                        .containerBackground(colour);
  const Placed placed = place(view, {100, 100});
  ASSERT_NE(findText(placed.root, "two"), nullptr);
  EXPECT_EQ(findText(placed.root, "three"), nullptr);
  EXPECT_EQ(containerBackgroundOf(view), colour);
  EXPECT_EQ(containerBackgroundOf(View(Text("plain"))), std::nullopt);
}

}  // namespace
}  // namespace platform::render
