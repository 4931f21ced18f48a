#include "platform/render/View.h"

#include "platform/render/Overloaded.h"

namespace platform::render {

View::View(Text text) : node_(std::make_shared<const Node>(std::move(text))) {}
View::View(Image image) : node_(std::make_shared<const Node>(std::move(image))) {}
View::View(Spacer spacer) : node_(std::make_shared<const Node>(spacer)) {}
View::View(VStack stack) : node_(std::make_shared<const Node>(std::move(stack))) {}
View::View(HStack stack) : node_(std::make_shared<const Node>(std::move(stack))) {}

View View::padding(double length) const { return padding(EdgeInsets{length, length, length, length}); }
View View::padding(EdgeInsets insets) const {
  return View(std::make_shared<const Node>(Padded{insets, *this}));
}
View View::frame(FlexibleFrame frame) const {
  return View(std::make_shared<const Node>(Framed{frame, *this}));
}
View View::background(Color color) const {
  return View(std::make_shared<const Node>(Backgrounded{color, *this}));
}
View View::clipShape(RoundedRectangle shape) const {
  return View(std::make_shared<const Node>(Clipped{shape, *this}));
}
View View::containerBackground(Color color) const {
  return View(std::make_shared<const Node>(ContainerBackground{color, *this}));
}

Text Text::font(Font value) const {
  Text copy = *this;
  copy.textFont = value;
  return copy;
}

Text Text::foregroundStyle(Color value) const {
  Text copy = *this;
  copy.color = value;
  return copy;
}

Text Text::kerning(double value) const {
  Text copy = *this;
  copy.letterSpacing = value;
  return copy;
}

Image Image::systemName(std::string name) { return Image{std::move(name), Color{}}; }

Image Image::foregroundStyle(Color value) const {
  Image copy = *this;
  copy.color = value;
  return copy;
}

namespace {

std::optional<Color> firstContainerBackground(const std::vector<View>& children) {
  for (const View& child : children) {
    if (auto color = containerBackgroundOf(child)) return color;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Color> containerBackgroundOf(const View& view) {
  return std::visit(Overloaded{
                        [](const ContainerBackground& node) -> std::optional<Color> { return node.color; },
                        [](const Padded& node) { return containerBackgroundOf(node.content); },
                        [](const Framed& node) { return containerBackgroundOf(node.content); },
                        [](const Backgrounded& node) { return containerBackgroundOf(node.content); },
                        [](const Clipped& node) { return containerBackgroundOf(node.content); },
                        [](const VStack& node) { return firstContainerBackground(node.children); },
                        [](const HStack& node) { return firstContainerBackground(node.children); },
                        [](const auto&) -> std::optional<Color> { return std::nullopt; },
                    },
                    static_cast<const Node::variant&>(view.node()));
}

}  // namespace platform::render
