#pragma once

#include <optional>

namespace platform::render {

// Points are the unit of every length here; a snapshot at scale 2 has two pixels a point.
struct Point {
  double x = 0;
  double y = 0;
};

struct Size {
  double width = 0;
  double height = 0;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  [[nodiscard]] double maxX() const { return x + width; }
  [[nodiscard]] double maxY() const { return y + height; }
  [[nodiscard]] Size size() const { return {width, height}; }
};

struct EdgeInsets {
  double top = 0;
  double leading = 0;
  double bottom = 0;
  double trailing = 0;
};

enum class Axis { horizontal, vertical };

// What a parent offers a child: a length per axis, or nothing for "your ideal size".
struct ProposedSize {
  std::optional<double> width;
  std::optional<double> height;

  [[nodiscard]] std::optional<double> along(Axis axis) const {
    return axis == Axis::horizontal ? width : height;
  }
};

inline double along(Size size, Axis axis) { return axis == Axis::horizontal ? size.width : size.height; }
inline double across(Size size, Axis axis) { return axis == Axis::horizontal ? size.height : size.width; }

}  // namespace platform::render
