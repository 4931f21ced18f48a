#pragma once

#include <array>
#include <vector>

#include "platform/render/Geometry.h"

namespace platform::render {

// A vector outline in points, drawn by the Cairo side as a fill.
struct Path {
  enum class Verb { moveTo, lineTo, curveTo, close };
  struct Element {
    Verb verb;
    std::array<Point, 3> points;  // curveTo: two control points, then the end point
  };

  std::vector<Element> elements;
  bool evenOdd = false;  // fill rule: true lets inner outlines cut holes

  void moveTo(Point point) { elements.push_back({Verb::moveTo, {point}}); }
  void lineTo(Point point) { elements.push_back({Verb::lineTo, {point}}); }
  void curveTo(Point control1, Point control2, Point end) {
    elements.push_back({Verb::curveTo, {control1, control2, end}});
  }
  void close() { elements.push_back({Verb::close, {}}); }
};

// A rectangle whose corners blend into the edges with continuous curvature (the corner
// starts 1.53 radii before the edge ends, where a circular arc would start at 1 radius).
// The radius shrinks when the rectangle is too small for it.
Path continuousRoundedRectangle(const Rect& rect, double cornerRadius);

// Whether `content` lies wholly inside the continuous rounded rectangle, so that
// clipping to it would change nothing. Conservative: it asks for half the corner
// radius of room from each edge (the corner curve comes no further in than 0.3 radii
// on its diagonal).
bool fitsInsideCorners(const Rect& content, const Rect& rect, double cornerRadius);

// A rectangle with semicircular ends along its shorter side.
void addCapsule(Path& path, const Rect& rect);

}  // namespace platform::render
