#pragma once

#include <optional>
#include <utility>
#include <variant>

#include "broadcast/signaling/RequestError.h"

namespace broadcast {

// What a REST request gives: its value, or the RequestError saying why it failed.
// value() and error() may only be called on the matching side (checked by ok()).
template <typename T>
class Outcome {
 public:
  Outcome(T value)
      : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Outcome(RequestError error)
      : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return state_.index() == 0; }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const RequestError& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, RequestError> state_;
};

// A request that gives nothing when it succeeds.
template <>
class Outcome<void> {
 public:
  Outcome() = default;
  Outcome(RequestError error) : error_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return !error_.has_value(); }
  void value() const {}
  const RequestError& error() const { return *error_; }

 private:
  std::optional<RequestError> error_;
};

}  // namespace broadcast
