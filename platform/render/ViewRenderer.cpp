#include "platform/render/ViewRenderer.h"

#include "platform/render/CairoDrawing.h"
#include "platform/render/Overloaded.h"
#include "platform/render/Symbols.h"

namespace platform::render {

LaidOutView ViewRenderer::layout(const View& view, Size container) {
  text_.forgetLayouts();
  return Layout(text_).place(view, container);
}

void ViewRenderer::render(cairo_t* cairo, const View& view, Size container,
                          std::optional<RoundedRectangle> shape) {
  text_.forgetLayouts();
  const LaidOutView placed = Layout(text_).place(view, container);
  cairo_save(cairo);
  const Rect whole{0, 0, container.width, container.height};
  const std::optional<Rect> drawn = drawnBounds(placed);
  // A clip makes Cairo draw everything through a mask; skip it where it changes nothing.
  if (shape && drawn && !fitsInsideCorners(*drawn, whole, shape->cornerRadius)) {
    CairoDrawing::setPath(cairo, continuousRoundedRectangle(whole, shape->cornerRadius));
    cairo_clip(cairo);
  }
  paint(cairo, placed);
  cairo_restore(cairo);
  text_.forgetLayouts();
}

// A clip to a rounded rectangle. The common case, a background filling the clipped
// frame with content well inside the corners, is drawn as a filled shape without a
// clip, which looks the same and costs far less.
void ViewRenderer::paintClipped(cairo_t* cairo, const LaidOutView& placed, double cornerRadius) {
  const Rect& frame = placed.frame;
  const LaidOutView& content = placed.children.front();
  const auto* background = std::get_if<Backgrounded>(content.node);
  if (background != nullptr && content.frame.x == frame.x && content.frame.y == frame.y &&
      content.frame.width == frame.width && content.frame.height == frame.height) {
    const LaidOutView& inside = content.children.front();
    const std::optional<Rect> drawn = drawnBounds(inside);
    if (!drawn || fitsInsideCorners(*drawn, frame, cornerRadius)) {
      CairoDrawing::fill(cairo, continuousRoundedRectangle(frame, cornerRadius), background->color);
      paint(cairo, inside);
      return;
    }
  }
  cairo_save(cairo);
  CairoDrawing::setPath(cairo, continuousRoundedRectangle(frame, cornerRadius));
  cairo_clip(cairo);
  for (const LaidOutView& child : placed.children) paint(cairo, child);
  cairo_restore(cairo);
}

void ViewRenderer::paint(cairo_t* cairo, const LaidOutView& placed) {
  const Rect& frame = placed.frame;
  auto paintChildren = [&] {
    for (const LaidOutView& child : placed.children) paint(cairo, child);
  };
  std::visit(Overloaded{
                 [&](const Text& text) { text_.draw(cairo, text, frame); },
                 [&](const Image& image) {
                   CairoDrawing::fill(cairo, Symbols::path(image.symbolName, frame), image.color);
                 },
                 [&](const Backgrounded& node) {
                   CairoDrawing::setColor(cairo, node.color);
                   cairo_rectangle(cairo, frame.x, frame.y, frame.width, frame.height);
                   cairo_fill(cairo);
                   paintChildren();
                 },
                 [&](const Clipped& node) { paintClipped(cairo, placed, node.shape.cornerRadius); },
                 [&](const auto&) { paintChildren(); },
             },
             static_cast<const Node::variant&>(*placed.node));
}

}  // namespace platform::render
