#pragma once

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/render/Color.h"
#include "platform/render/Font.h"
#include "platform/render/Geometry.h"

namespace platform::render {

inline constexpr double infinity = std::numeric_limits<double>::infinity();

enum class HorizontalAlignment { leading, center, trailing };
enum class VerticalAlignment { top, center, bottom };

struct Alignment {
  HorizontalAlignment horizontal = HorizontalAlignment::center;
  VerticalAlignment vertical = VerticalAlignment::center;

  static constexpr Alignment center() { return {}; }
  static constexpr Alignment leading() { return {HorizontalAlignment::leading, VerticalAlignment::center}; }
};

// A frame that grows to what its parent offers, up to its maxima; without an offer
// it keeps its content's size.
struct FlexibleFrame {
  std::optional<double> maxWidth;
  std::optional<double> maxHeight;
  Alignment alignment;
};

// A rectangle with continuous corners.
struct RoundedRectangle {
  double cornerRadius = 0;
};

struct Text;
struct Image;
struct Spacer;
struct VStack;
struct HStack;
struct Node;

// An immutable piece of a declarative view tree; copies share their nodes. Modifiers
// wrap the view in a new node and leave the original as it was.
class View {
 public:
  View(Text text);      // NOLINT(google-explicit-constructor): views nest as in a declaration
  View(Image image);    // NOLINT(google-explicit-constructor)
  View(Spacer spacer);  // NOLINT(google-explicit-constructor)
  View(VStack stack);   // NOLINT(google-explicit-constructor)
  View(HStack stack);   // NOLINT(google-explicit-constructor)

  [[nodiscard]] View padding(double length) const;
  [[nodiscard]] View padding(EdgeInsets insets) const;
  [[nodiscard]] View frame(FlexibleFrame frame) const;
  // Fills the view's bounds with a colour behind it.
  [[nodiscard]] View background(Color color) const;
  [[nodiscard]] View clipShape(RoundedRectangle shape) const;
  // The colour the widget host fills the whole tile with behind the view.
  [[nodiscard]] View containerBackground(Color color) const;

  [[nodiscard]] const Node& node() const { return *node_; }

 private:
  explicit View(std::shared_ptr<const Node> node) : node_(std::move(node)) {}
  std::shared_ptr<const Node> node_;
};

// One run of text; it wraps when offered less than its natural width.
struct Text {
  std::string content;
  Font textFont = Font::body();
  Color color;
  double letterSpacing = 0;

  explicit Text(std::string text) : content(std::move(text)) {}
  [[nodiscard]] Text font(Font value) const;
  [[nodiscard]] Text foregroundStyle(Color value) const;
  // Extra space after every character, in points.
  [[nodiscard]] Text kerning(double value) const;
};

// A symbol drawn as a vector outline at the size of the surrounding text.
struct Image {
  std::string symbolName;
  Color color;

  static Image systemName(std::string name);
  [[nodiscard]] Image foregroundStyle(Color value) const;
};

// Flexible space along the axis of the stack that holds it.
struct Spacer {
  static constexpr double defaultMinLength = 8;
  std::optional<double> minLength;  // nothing: defaultMinLength
};

struct VStack {
  HorizontalAlignment alignment = HorizontalAlignment::center;
  double spacing = 8;
  std::vector<View> children;
};

struct HStack {
  VerticalAlignment alignment = VerticalAlignment::center;
  double spacing = 8;
  std::vector<View> children;
};

struct Padded {
  EdgeInsets insets;
  View content;
};

struct Framed {
  FlexibleFrame frame;
  View content;
};

struct Backgrounded {
  Color color;
  View content;
};

struct Clipped {
  RoundedRectangle shape;
  View content;
};

struct ContainerBackground {
  Color color;
  View content;
};

struct Node : std::variant<Text, Image, Spacer, VStack, HStack, Padded, Framed, Backgrounded, Clipped,
                           ContainerBackground> {
  using variant::variant;
};

// The container background set anywhere in the tree, if any (the outermost one wins).
std::optional<Color> containerBackgroundOf(const View& view);

}  // namespace platform::render
