#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/render/Font.h"
#include "platform/render/Geometry.h"
#include "platform/render/View.h"

namespace platform::render {

// A node of a view tree with the frame the layout gave it, in the container's points.
// Points into the view tree it was made from, which must outlive it.
struct LaidOutView {
  Rect frame;
  const Node* node = nullptr;
  std::vector<LaidOutView> children;
};

// Measures text for the layout; the Pango side implements it.
class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // The size the text takes when offered `proposal`: its natural size where that fits;
  // otherwise wrapped to the offered width and cut off with an ellipsis at the offered
  // height (at least one line).
  virtual Size measure(const Text& text, ProposedSize proposal) = 0;
};

// Lays out a view tree: each parent offers its children a size, each child picks its
// own, and the parent places them. Stacks serve their least flexible children first,
// in equal shares of what is left, and give the rest to their spacers. Runs on the
// thread of its measurer.
class Layout {
 public:
  explicit Layout(TextMeasurer& measurer, Font environmentFont = Font::body());

  // Offers the view the whole container and centres what it takes inside it.
  LaidOutView place(const View& view, Size container);
  Size sizeThatFits(const View& view, ProposedSize proposal);

 private:
  Size size(const Node& node, ProposedSize proposal, std::optional<Axis> stackAxis);
  double flexibility(const Node& node, Axis axis, std::optional<Axis> stackAxis);
  std::vector<Size> distribute(Axis axis, double spacing, const std::vector<View>& children,
                               ProposedSize proposal);
  LaidOutView place(const Node& node, const Rect& frame);
  LaidOutView placeStack(const Node& node, Axis axis, int crossAlignment, double spacing,
                         const std::vector<View>& children, const Rect& frame);

  TextMeasurer& measurer_;
  Font environmentFont_;
};

// The union of the frames that draw something: texts, symbols and backgrounds;
// nothing when no node draws.
std::optional<Rect> drawnBounds(const LaidOutView& root);

// Depth-first search of a laid-out tree for the first text with that content.
const LaidOutView* findText(const LaidOutView& root, std::string_view content);

}  // namespace platform::render
