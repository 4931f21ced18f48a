#include "platform/render/Path.h"

#include <algorithm>

namespace platform::render {
namespace {

// How far the continuous corner reaches along each edge, in radii.
constexpr double kCornerReach = 1.52866483;

// One corner as (along the incoming edge back from the corner, along the outgoing edge)
// pairs in radii: the start, then three cubic curves of control, control, end.
constexpr std::array<std::array<double, 2>, 10> kCorner = {{
    {kCornerReach, 0},
    {1.08849296, 0},
    {0.86840694, 0},
    {0.63149399, 0.07491176},
    {0.37282392, 0.16906013},
    {0.16906013, 0.37282392},
    {0.07491176, 0.63149399},
    {0, 0.86840694},
    {0, 1.08849296},
    {0, kCornerReach},
}};

// Cubic approximation of a quarter circle: control points sit this many radii out.
constexpr double kQuarterCircle = 0.5522847498;

void addCorner(Path& path, Point corner, Point incoming, Point outgoing, double radius) {
  auto at = [&](const std::array<double, 2>& p) {
    return Point{corner.x - p[0] * radius * incoming.x + p[1] * radius * outgoing.x,
                 corner.y - p[0] * radius * incoming.y + p[1] * radius * outgoing.y};
  };
  path.lineTo(at(kCorner[0]));
  for (std::size_t i = 1; i < kCorner.size(); i += 3)
    path.curveTo(at(kCorner.at(i)), at(kCorner.at(i + 1)), at(kCorner.at(i + 2)));
}

}  // namespace

Path continuousRoundedRectangle(const Rect& rect, double cornerRadius) {
  const double radius = std::clamp(cornerRadius, 0.0, std::min(rect.width, rect.height) / (2 * kCornerReach));
  Path path;
  path.moveTo({rect.x + kCornerReach * radius, rect.y});
  addCorner(path, {rect.maxX(), rect.y}, {1, 0}, {0, 1}, radius);
  addCorner(path, {rect.maxX(), rect.maxY()}, {0, 1}, {-1, 0}, radius);
  addCorner(path, {rect.x, rect.maxY()}, {-1, 0}, {0, -1}, radius);
  addCorner(path, {rect.x, rect.y}, {0, -1}, {1, 0}, radius);
  path.close();
  return path;
}

bool fitsInsideCorners(const Rect& content, const Rect& rect, double cornerRadius) {
  const double radius = std::clamp(cornerRadius, 0.0, std::min(rect.width, rect.height) / (2 * kCornerReach));
  const double room = radius / 2;
  return content.x >= rect.x + room && content.y >= rect.y + room && content.maxX() <= rect.maxX() - room &&
         content.maxY() <= rect.maxY() - room;
}

void addCapsule(Path& path, const Rect& rect) {
  const bool wide = rect.width >= rect.height;
  const double r = (wide ? rect.height : rect.width) / 2;
  const double k = r * kQuarterCircle;
  // The two straight sides, joined by half circles drawn as two quarters each.
  const double left = rect.x + r;
  const double right = rect.maxX() - r;
  const double top = rect.y + r;
  const double bottom = rect.maxY() - r;
  if (wide) {
    path.moveTo({left, rect.y});
    path.lineTo({right, rect.y});
    path.curveTo({right + k, rect.y}, {rect.maxX(), top - k}, {rect.maxX(), top});
    path.curveTo({rect.maxX(), top + k}, {right + k, rect.maxY()}, {right, rect.maxY()});
    path.lineTo({left, rect.maxY()});
    path.curveTo({left - k, rect.maxY()}, {rect.x, top + k}, {rect.x, top});
    path.curveTo({rect.x, top - k}, {left - k, rect.y}, {left, rect.y});
  } else {
    path.moveTo({rect.x, bottom});
    path.lineTo({rect.x, top});
    path.curveTo({rect.x, top - k}, {left - k, rect.y}, {left, rect.y});
    path.curveTo({left + k, rect.y}, {rect.maxX(), top - k}, {rect.maxX(), top});
    path.lineTo({rect.maxX(), bottom});
    path.curveTo({rect.maxX(), bottom + k}, {left + k, rect.maxY()}, {left, rect.maxY()});
    path.curveTo({left - k, rect.maxY()}, {rect.x, bottom + k}, {rect.x, bottom});
  }
  path.close();
}

}  // namespace platform::render
