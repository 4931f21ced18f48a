#include "platform/render/ViewRenderer.h"

#include "platform/render/CairoDrawing.h"
#include "platform/render/Overloaded.h"
#include "platform/render/Symbols.h"

namespace platform::render {

LaidOutView ViewRenderer::layout(const View& view, Size container) {
  text_.forgetLayouts();
  return Layout(text_).place(view, container);
}

void ViewRenderer::render(cairo_t* cairo, const View& view, Size container) {
  text_.forgetLayouts();
  const LaidOutView placed = Layout(text_).place(view, container);
  cairo_save(cairo);
  paint(cairo, placed);
  cairo_restore(cairo);
  text_.forgetLayouts();
}

void ViewRenderer::paint(cairo_t* cairo, const LaidOutView& placed) {
  const Rect& frame = placed.frame;
  auto paintChildren = [&] {
    for (const LaidOutView& child : placed.children) paint(cairo, child);
  };
  std::visit(Overloaded{
                 [&](const Text& text) { text_.draw(cairo, text, frame); },
                 [&](const Image& image) { CairoDrawing::fill(cairo, Symbols::path(image.symbolName, frame), image.color); },
                 [&](const Backgrounded& node) {
                   CairoDrawing::setColor(cairo, node.color);
                   cairo_rectangle(cairo, frame.x, frame.y, frame.width, frame.height);
                   cairo_fill(cairo);
                   paintChildren();
                 },
                 [&](const Clipped& node) {
                   cairo_save(cairo);
                   CairoDrawing::setPath(cairo, continuousRoundedRectangle(frame, node.shape.cornerRadius));
                   cairo_clip(cairo);
                   paintChildren();
                   cairo_restore(cairo);
                 },
                 [&](const auto&) { paintChildren(); },
             },
             static_cast<const Node::variant&>(*placed.node));
}

}  // namespace platform::render
