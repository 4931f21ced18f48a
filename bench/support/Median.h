#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace benchsupport {

// The middle value, the mean of the two middle ones for an even count; zero for none.
template <typename T>
T median(std::vector<T> values) {
  if (values.empty()) return T{};
  const auto upper = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), upper, values.end());
  if (values.size() % 2 == 1) return *upper;
  const T lower = *std::max_element(values.begin(), upper);
  return lower + (*upper - lower) / 2;
}

}  // namespace benchsupport
