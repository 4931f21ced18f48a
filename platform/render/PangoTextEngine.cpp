#include "platform/render/PangoTextEngine.h"

#include <pango/pangocairo.h>

#include <cmath>
#include <memory>
#include <set>

namespace platform::render {
namespace {

using FontDescription = std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)>;
using AttrList = std::unique_ptr<PangoAttrList, decltype(&pango_attr_list_unref)>;
using FontOptions = std::unique_ptr<cairo_font_options_t, decltype(&cairo_font_options_destroy)>;

constexpr const char* kFallbackFamily = "sans-serif";

std::set<std::string, std::less<>> installedFamilies(PangoFontMap* fontMap) {
  g_autofree PangoFontFamily** families = nullptr;
  int count = 0;
  pango_font_map_list_families(fontMap, &families, &count);
  std::set<std::string, std::less<>> names;
  for (int i = 0; i < count; ++i) names.emplace(pango_font_family_get_name(families[i]));
  return names;
}

PangoWeight pangoWeight(FontWeight weight) {
  switch (weight) {
    case FontWeight::medium:
      return PANGO_WEIGHT_MEDIUM;
    case FontWeight::semibold:
      return PANGO_WEIGHT_SEMIBOLD;
    case FontWeight::bold:
      return PANGO_WEIGHT_BOLD;
    case FontWeight::heavy:
      return PANGO_WEIGHT_ULTRABOLD;
    case FontWeight::regular:
      break;
  }
  return PANGO_WEIGHT_NORMAL;
}

int pangoUnits(double points) { return static_cast<int>(std::lround(points * PANGO_SCALE)); }

Size logicalSize(PangoLayout* layout) {
  PangoRectangle logical{};
  pango_layout_get_extents(layout, nullptr, &logical);
  return {static_cast<double>(logical.width) / PANGO_SCALE,
          static_cast<double>(logical.height) / PANGO_SCALE};
}

}  // namespace

PangoTextEngine::PangoTextEngine() {
  PangoFontMap* fontMap = pango_cairo_font_map_get_default();
  context_ = gobject::ObjectRef<PangoContext>::adopt(pango_font_map_create_context(fontMap));
  FontOptions options(cairo_font_options_create(), &cairo_font_options_destroy);
  cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
  pango_cairo_context_set_font_options(context_.get(), options.get());
  pango_context_set_round_glyph_positions(context_.get(), FALSE);

  const auto families = installedFamilies(fontMap);
  systemFamily_ = families.contains("Inter") ? "Inter" : kFallbackFamily;
  roundedFamily_ = families.contains("Quicksand") ? "Quicksand" : systemFamily_;
}

PangoTextEngine::~PangoTextEngine() = default;

const std::string& PangoTextEngine::familyFor(FontDesign design) const {
  return design == FontDesign::rounded ? roundedFamily_ : systemFamily_;
}

void PangoTextEngine::forgetLayouts() { runs_.clear(); }

PangoTextEngine::Run& PangoTextEngine::runFor(const Text& text) {
  auto [it, inserted] = runs_.try_emplace(&text);
  Run& run = it->second;
  if (!inserted) return run;

  run.layout = gobject::ObjectRef<PangoLayout>::adopt(pango_layout_new(context_.get()));
  FontDescription font(pango_font_description_new(), &pango_font_description_free);
  pango_font_description_set_family(font.get(), familyFor(text.textFont.design).c_str());
  pango_font_description_set_weight(font.get(), pangoWeight(text.textFont.weight));
  pango_font_description_set_absolute_size(font.get(), text.textFont.size * PANGO_SCALE);
  pango_layout_set_font_description(run.layout.get(), font.get());
  if (text.letterSpacing != 0) {
    AttrList attributes(pango_attr_list_new(), &pango_attr_list_unref);
    pango_attr_list_insert(attributes.get(), pango_attr_letter_spacing_new(pangoUnits(text.letterSpacing)));
    pango_layout_set_attributes(run.layout.get(), attributes.get());
  }
  pango_layout_set_wrap(run.layout.get(), PANGO_WRAP_WORD_CHAR);
  pango_layout_set_text(run.layout.get(), text.content.data(), static_cast<int>(text.content.size()));
  run.natural = logicalSize(run.layout.get());
  run.current = run.natural;
  return run;
}

Size PangoTextEngine::fit(Run& run, ProposedSize proposal) {
  std::optional<double> wrapWidth;
  std::optional<double> heightLimit;
  if (proposal.width && *proposal.width < run.natural.width) {
    wrapWidth = *proposal.width;
    heightLimit = proposal.height;
  }
  if (wrapWidth == run.wrapWidth && heightLimit == run.heightLimit) return run.current;

  PangoLayout* layout = run.layout.get();
  run.wrapWidth = wrapWidth;
  run.heightLimit = heightLimit;
  pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_NONE);
  pango_layout_set_height(layout, -1);
  pango_layout_set_width(layout, wrapWidth ? pangoUnits(*wrapWidth) : -1);
  run.current = logicalSize(layout);
  if (heightLimit && run.current.height > *heightLimit) {
    // Cut the wrapped text off at the offered height, ending on an ellipsis.
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_height(layout, pangoUnits(*heightLimit));
    run.current = logicalSize(layout);
  }
  return run.current;
}

Size PangoTextEngine::measure(const Text& text, ProposedSize proposal) { return fit(runFor(text), proposal); }

void PangoTextEngine::draw(cairo_t* cairo, const Text& text, const Rect& frame) {
  Run& run = runFor(text);
  fit(run, {frame.width, frame.height});
  cairo_set_source_rgba(cairo, text.color.red, text.color.green, text.color.blue, text.color.opacity);
  cairo_move_to(cairo, frame.x, frame.y);
  pango_cairo_show_layout(cairo, run.layout.get());
}

}  // namespace platform::render
