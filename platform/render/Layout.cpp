#include "platform/render/Layout.h"

#include <algorithm>
#include <cmath>

#include "platform/render/Overloaded.h"
#include "platform/render/Symbols.h"

namespace platform::render {
namespace {

// Where a child sits across a stack: -1 at the start, 0 centred, 1 at the end.
int crossPosition(HorizontalAlignment alignment) {
  return alignment == HorizontalAlignment::leading ? -1 : alignment == HorizontalAlignment::trailing ? 1 : 0;
}
int crossPosition(VerticalAlignment alignment) {
  return alignment == VerticalAlignment::top ? -1 : alignment == VerticalAlignment::bottom ? 1 : 0;
}

double offsetFor(int position, double room) { return position < 0 ? 0 : position > 0 ? room : room / 2; }

// An offer of infinite or negative length means "take your ideal size" or "nothing".
std::optional<double> usable(std::optional<double> length) {
  if (!length || !std::isfinite(*length)) return std::nullopt;
  return std::max(0.0, *length);
}

ProposedSize usable(ProposedSize proposal) { return {usable(proposal.width), usable(proposal.height)}; }

ProposedSize offerAlong(Axis axis, std::optional<double> along, std::optional<double> across) {
  return axis == Axis::horizontal ? ProposedSize{along, across} : ProposedSize{across, along};
}

Size sizeAlong(Axis axis, double along, double across) {
  return axis == Axis::horizontal ? Size{along, across} : Size{across, along};
}

std::optional<double> shrink(std::optional<double> length, double by) {
  if (!length) return std::nullopt;
  return std::max(0.0, *length - by);
}

double spacerMinLength(const Spacer& spacer) { return spacer.minLength.value_or(Spacer::defaultMinLength); }

// A flexible frame offers its content the offer it got, capped at its maximum.
std::optional<double> frameOffer(std::optional<double> offer, std::optional<double> maximum) {
  if (!offer || !maximum) return offer;
  return std::min(*offer, *maximum);
}

// With a maximum it takes the offer (capped), but never less than its content.
double frameLength(std::optional<double> offer, std::optional<double> maximum, double content) {
  if (!offer || !maximum) return content;
  return std::max(content, std::min(*offer, *maximum));
}

}  // namespace

Layout::Layout(TextMeasurer& measurer, Font environmentFont)
    : measurer_(measurer), environmentFont_(environmentFont) {}

Size Layout::sizeThatFits(const View& view, ProposedSize proposal) {
  return size(view.node(), proposal, std::nullopt);
}

LaidOutView Layout::place(const View& view, Size container) {
  const Size taken = size(view.node(), {container.width, container.height}, std::nullopt);
  const Rect frame{(container.width - taken.width) / 2, (container.height - taken.height) / 2, taken.width,
                   taken.height};
  return place(view.node(), frame);
}

Size Layout::size(const Node& node, ProposedSize proposal, std::optional<Axis> stackAxis) {
  proposal = usable(proposal);
  return std::visit(
      Overloaded{
          [&](const Text& text) { return measurer_.measure(text, proposal); },
          [&](const Image& image) { return Symbols::size(image.symbolName, environmentFont_.size); },
          [&](const Spacer& spacer) {
            const double minLength = spacerMinLength(spacer);
            auto grow = [&](std::optional<double> offer) {
              return std::max(minLength, offer.value_or(minLength));
            };
            if (!stackAxis) return Size{grow(proposal.width), grow(proposal.height)};
            return sizeAlong(*stackAxis, grow(proposal.along(*stackAxis)), 0);
          },
          [&](const VStack& stack) {
            auto sizes = distribute(Axis::vertical, stack.spacing, stack.children, proposal);
            double height =
                stack.children.empty() ? 0 : stack.spacing * static_cast<double>(sizes.size() - 1);
            double width = 0;
            for (const Size& s : sizes) {
              height += s.height;
              width = std::max(width, s.width);
            }
            return Size{width, height};
          },
          [&](const HStack& stack) {
            auto sizes = distribute(Axis::horizontal, stack.spacing, stack.children, proposal);
            double width = stack.children.empty() ? 0 : stack.spacing * static_cast<double>(sizes.size() - 1);
            double height = 0;
            for (const Size& s : sizes) {
              width += s.width;
              height = std::max(height, s.height);
            }
            return Size{width, height};
          },
          [&](const Padded& padded) {
            const EdgeInsets& in = padded.insets;
            const Size inner = size(padded.content.node(),
                                    {shrink(proposal.width, in.leading + in.trailing),
                                     shrink(proposal.height, in.top + in.bottom)},
                                    std::nullopt);
            return Size{inner.width + in.leading + in.trailing, inner.height + in.top + in.bottom};
          },
          [&](const Framed& framed) {
            const FlexibleFrame& f = framed.frame;
            const Size inner =
                size(framed.content.node(),
                     {frameOffer(proposal.width, f.maxWidth), frameOffer(proposal.height, f.maxHeight)},
                     std::nullopt);
            return Size{frameLength(proposal.width, f.maxWidth, inner.width),
                        frameLength(proposal.height, f.maxHeight, inner.height)};
          },
          [&](const Backgrounded& wrapper) { return size(wrapper.content.node(), proposal, std::nullopt); },
          [&](const Clipped& wrapper) { return size(wrapper.content.node(), proposal, std::nullopt); },
          [&](const ContainerBackground& wrapper) {
            return size(wrapper.content.node(), proposal, std::nullopt);
          },
      },
      static_cast<const Node::variant&>(node));
}

// How far a child can grow past its ideal length along `axis`. Text can shrink from its
// natural width to nothing by wrapping, so its natural width counts as its flexibility.
double Layout::flexibility(const Node& node, Axis axis, std::optional<Axis> stackAxis) {
  auto ofStack = [&](Axis own, const std::vector<View>& children) {
    double total = 0;
    for (const View& child : children) {
      const double value = flexibility(child.node(), axis, own);
      total = own == axis ? total + value : std::max(total, value);
    }
    return total;
  };
  return std::visit(
      Overloaded{
          [&](const Text& text) {
            return axis == Axis::horizontal ? measurer_.measure(text, {}).width : 0.0;
          },
          [](const Image&) { return 0.0; },
          [&](const Spacer&) { return !stackAxis || *stackAxis == axis ? infinity : 0.0; },
          [&](const VStack& stack) { return ofStack(Axis::vertical, stack.children); },
          [&](const HStack& stack) { return ofStack(Axis::horizontal, stack.children); },
          [&](const Padded& wrapper) { return flexibility(wrapper.content.node(), axis, std::nullopt); },
          [&](const Framed& framed) {
            const auto& maximum = axis == Axis::horizontal ? framed.frame.maxWidth : framed.frame.maxHeight;
            return maximum ? infinity : flexibility(framed.content.node(), axis, std::nullopt);
          },
          [&](const Backgrounded& wrapper) {
            return flexibility(wrapper.content.node(), axis, std::nullopt);
          },
          [&](const Clipped& wrapper) { return flexibility(wrapper.content.node(), axis, std::nullopt); },
          [&](const ContainerBackground& wrapper) {
            return flexibility(wrapper.content.node(), axis, std::nullopt);
          },
      },
      static_cast<const Node::variant&>(node));
}

std::vector<Size> Layout::distribute(Axis axis, double spacing, const std::vector<View>& children,
                                     ProposedSize proposal) {
  std::vector<Size> sizes(children.size());
  if (children.empty()) return sizes;
  const std::optional<double> across = axis == Axis::horizontal ? proposal.height : proposal.width;
  const std::optional<double> along = proposal.along(axis);
  if (!along) {
    for (std::size_t i = 0; i < children.size(); ++i) {
      sizes[i] = size(children[i].node(), offerAlong(axis, std::nullopt, across), axis);
    }
    return sizes;
  }

  double remaining = *along - spacing * static_cast<double>(children.size() - 1);
  std::vector<std::size_t> others;
  std::vector<std::size_t> spacers;
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (const auto* spacer = std::get_if<Spacer>(&children[i].node())) {
      remaining -= spacerMinLength(*spacer);
      spacers.push_back(i);
    } else {
      others.push_back(i);
    }
  }
  std::vector<double> flex(children.size());
  for (std::size_t i : others) flex[i] = flexibility(children[i].node(), axis, axis);
  std::stable_sort(others.begin(), others.end(),
                   [&flex](std::size_t a, std::size_t b) { return flex[a] < flex[b]; });

  std::size_t left = others.size();
  for (std::size_t i : others) {
    const double share = std::max(0.0, remaining) / static_cast<double>(left--);
    sizes[i] = size(children[i].node(), offerAlong(axis, share, across), axis);
    remaining -= render::along(sizes[i], axis);
  }
  const double extra = spacers.empty() ? 0 : std::max(0.0, remaining) / static_cast<double>(spacers.size());
  for (std::size_t i : spacers) {
    const double length = spacerMinLength(std::get<Spacer>(children[i].node())) + extra;
    sizes[i] = size(children[i].node(), offerAlong(axis, length, across), axis);
  }
  return sizes;
}

LaidOutView Layout::place(const Node& node, const Rect& frame) {
  auto single = [&](const View& content, const Rect& inner) {
    return LaidOutView{frame, &node, {place(content.node(), inner)}};
  };
  return std::visit(
      Overloaded{
          [&](const VStack& stack) {
            return placeStack(node, Axis::vertical, crossPosition(stack.alignment), stack.spacing,
                              stack.children, frame);
          },
          [&](const HStack& stack) {
            return placeStack(node, Axis::horizontal, crossPosition(stack.alignment), stack.spacing,
                              stack.children, frame);
          },
          [&](const Padded& padded) {
            const EdgeInsets& in = padded.insets;
            const Size inner = size(padded.content.node(),
                                    {std::max(0.0, frame.width - in.leading - in.trailing),
                                     std::max(0.0, frame.height - in.top - in.bottom)},
                                    std::nullopt);
            return single(padded.content,
                          {frame.x + in.leading, frame.y + in.top, inner.width, inner.height});
          },
          [&](const Framed& framed) {
            const FlexibleFrame& f = framed.frame;
            const Size inner = size(
                framed.content.node(),
                {frameOffer(frame.width, f.maxWidth), frameOffer(frame.height, f.maxHeight)}, std::nullopt);
            const double x =
                frame.x + offsetFor(crossPosition(f.alignment.horizontal), frame.width - inner.width);
            const double y =
                frame.y + offsetFor(crossPosition(f.alignment.vertical), frame.height - inner.height);
            return single(framed.content, {x, y, inner.width, inner.height});
          },
          [&](const Backgrounded& wrapper) { return single(wrapper.content, frame); },
          [&](const Clipped& wrapper) { return single(wrapper.content, frame); },
          [&](const ContainerBackground& wrapper) { return single(wrapper.content, frame); },
          [&](const auto&) {
            return LaidOutView{frame, &node, {}};
          },
      },
      static_cast<const Node::variant&>(node));
}

LaidOutView Layout::placeStack(const Node& node, Axis axis, int crossAlignment, double spacing,
                               const std::vector<View>& children, const Rect& frame) {
  LaidOutView placed{frame, &node, {}};
  const std::vector<Size> sizes = distribute(axis, spacing, children, {frame.width, frame.height});
  const double crossLength = across(frame.size(), axis);
  double cursor = 0;
  for (std::size_t i = 0; i < children.size(); ++i) {
    const double crossOffset = offsetFor(crossAlignment, crossLength - across(sizes[i], axis));
    const Rect childFrame =
        axis == Axis::horizontal
            ? Rect{frame.x + cursor, frame.y + crossOffset, sizes[i].width, sizes[i].height}
            : Rect{frame.x + crossOffset, frame.y + cursor, sizes[i].width, sizes[i].height};
    placed.children.push_back(place(children[i].node(), childFrame));
    cursor += render::along(sizes[i], axis) + spacing;
  }
  return placed;
}

std::optional<Rect> drawnBounds(const LaidOutView& root) {
  std::optional<Rect> bounds;
  if (std::holds_alternative<Text>(*root.node) || std::holds_alternative<Image>(*root.node) ||
      std::holds_alternative<Backgrounded>(*root.node)) {
    bounds = root.frame;
  }
  for (const LaidOutView& child : root.children) {
    const std::optional<Rect> inner = drawnBounds(child);
    if (!inner) continue;
    if (!bounds) {
      bounds = inner;
      continue;
    }
    const double x = std::min(bounds->x, inner->x);
    const double y = std::min(bounds->y, inner->y);
    bounds =
        Rect{x, y, std::max(bounds->maxX(), inner->maxX()) - x, std::max(bounds->maxY(), inner->maxY()) - y};
  }
  return bounds;
}

const LaidOutView* findText(const LaidOutView& root, std::string_view content) {
  if (const auto* text = std::get_if<Text>(root.node); text != nullptr && text->content == content)
    return &root;
  for (const LaidOutView& child : root.children) {
    if (const LaidOutView* found = findText(child, content)) return found;
  }
  return nullptr;
}

}  // namespace platform::render
