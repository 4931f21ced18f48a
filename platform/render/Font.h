#pragma once

namespace platform::render {

enum class FontWeight { regular, medium, semibold, bold, heavy };

// The system face, or its rounded companion for figures.
enum class FontDesign { standard, rounded };

// A system font of a given size in points.
struct Font {
  double size = 17;
  FontWeight weight = FontWeight::regular;
  FontDesign design = FontDesign::standard;

  static constexpr Font system(double size, FontWeight weight = FontWeight::regular,
                               FontDesign design = FontDesign::standard) {
    return {size, weight, design};
  }
  // The text style everything gets that sets no font of its own.
  static constexpr Font body() { return system(17); }

  friend constexpr bool operator==(const Font&, const Font&) = default;
};

}  // namespace platform::render
