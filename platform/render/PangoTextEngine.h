#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <optional>
#include <string>
#include <unordered_map>

#include "platform/gobject/ObjectRef.h"
#include "platform/render/Layout.h"

namespace platform::render {

// Measures and draws text runs with Pango, in points, for one thread. A run keeps its
// Pango layout until forgetLayouts(), so a layout pass followed by a drawing pass
// shapes each text once. Metrics are unhinted, so text measured in points draws the
// same at any scale. System face: Inter where installed; rounded: Quicksand where
// installed; otherwise the system's sans-serif.
class PangoTextEngine final : public TextMeasurer {
 public:
  PangoTextEngine();
  ~PangoTextEngine() override;
  PangoTextEngine(const PangoTextEngine&) = delete;
  PangoTextEngine& operator=(const PangoTextEngine&) = delete;

  Size measure(const Text& text, ProposedSize proposal) override;
  // Draws the text into its laid-out frame in the colour it carries.
  void draw(cairo_t* cairo, const Text& text, const Rect& frame);
  // Drops the layouts of the last pass; call before the texts they describe go away.
  void forgetLayouts();

  [[nodiscard]] const std::string& familyFor(FontDesign design) const;

 private:
  struct Run {
    gobject::ObjectRef<PangoLayout> layout;
    Size natural;
    std::optional<double> wrapWidth;    // nothing: one natural run
    std::optional<double> heightLimit;  // nothing: every wrapped line
    Size current;
  };

  Run& runFor(const Text& text);
  static Size fit(Run& run, ProposedSize proposal);

  gobject::ObjectRef<PangoContext> context_;
  std::string systemFamily_;
  std::string roundedFamily_;
  std::unordered_map<const Text*, Run> runs_;
};

}  // namespace platform::render
