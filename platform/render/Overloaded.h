#pragma once

namespace platform::render {

// Builds one visitor for std::visit out of several lambdas.
template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
// Spelled out for compilers without deduction from aggregate initialisation.
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace platform::render
