#pragma once

#include <string>
#include <variant>
#include <vector>

#include "platform/render/ViewRenderer.h"

namespace widgets {

// Every text of a view laid out in `size`, in drawing order.
inline std::vector<std::string> textsOf(const platform::render::View& view,
                                        platform::render::Size size = {170, 170}) {
  std::vector<std::string> texts;
  const auto collect = [&texts](const platform::render::LaidOutView& laidOut, const auto& self) -> void {
    if (const auto* text = std::get_if<platform::render::Text>(laidOut.node)) texts.push_back(text->content);
    for (const auto& child : laidOut.children) self(child, self);
  };
  collect(platform::render::ViewRenderer().layout(view, size), collect);
  return texts;
}

}  // namespace widgets
