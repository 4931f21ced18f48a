#include "platform/render/Symbols.h"

#include <array>

namespace platform::render {
namespace {

// Box of each symbol, in multiples of the point size.
constexpr Size kWaveformBox{1.2, 0.95};
constexpr Size kFlameBox{0.82, 1.06};

// Bar heights of the waveform, as fractions of its box, left to right.
constexpr std::array<double, 9> kWaveformBars = {0.28, 0.56, 0.86, 0.46, 1.0, 0.62, 0.8, 0.4, 0.24};

Path waveform(const Rect& box) {
  Path path;
  const double step = box.width / static_cast<double>(kWaveformBars.size());
  const double barWidth = step * 0.58;
  const double middle = box.y + box.height / 2;
  for (std::size_t i = 0; i < kWaveformBars.size(); ++i) {
    const double height = box.height * kWaveformBars.at(i);
    const double x = box.x + step * static_cast<double>(i) + (step - barWidth) / 2;
    addCapsule(path, {x, middle - height / 2, barWidth, height});
  }
  return path;
}

// A flame with a smaller inner flame cut out of it, in a unit box (y grows downward).
Path flame(const Rect& box) {
  auto at = [&box](double x, double y) { return Point{box.x + x * box.width, box.y + y * box.height}; };
  Path path;
  path.evenOdd = true;
  path.moveTo(at(0.5, 1.0));
  path.curveTo(at(0.2, 1.0), at(0.0, 0.8), at(0.0, 0.6));
  path.curveTo(at(0.0, 0.42), at(0.1, 0.3), at(0.22, 0.2));
  path.curveTo(at(0.3, 0.26), at(0.32, 0.34), at(0.34, 0.4));
  path.curveTo(at(0.42, 0.22), at(0.5, 0.1), at(0.56, 0.0));
  path.curveTo(at(0.76, 0.15), at(1.0, 0.35), at(1.0, 0.62));
  path.curveTo(at(1.0, 0.84), at(0.8, 1.0), at(0.5, 1.0));
  path.close();
  path.moveTo(at(0.5, 0.92));
  path.curveTo(at(0.36, 0.92), at(0.27, 0.83), at(0.27, 0.72));
  path.curveTo(at(0.27, 0.61), at(0.38, 0.53), at(0.47, 0.44));
  path.curveTo(at(0.53, 0.56), at(0.73, 0.61), at(0.73, 0.74));
  path.curveTo(at(0.73, 0.85), at(0.64, 0.92), at(0.5, 0.92));
  path.close();
  return path;
}

}  // namespace

Size Symbols::size(std::string_view name, double pointSize) {
  if (name == "waveform") return {kWaveformBox.width * pointSize, kWaveformBox.height * pointSize};
  if (name == "flame.fill") return {kFlameBox.width * pointSize, kFlameBox.height * pointSize};
  return {};
}

Path Symbols::path(std::string_view name, const Rect& box) {
  if (name == "waveform") return waveform(box);
  if (name == "flame.fill") return flame(box);
  return {};
}

}  // namespace platform::render
