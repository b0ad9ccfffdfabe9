// The outcome of an operation that answers at once: a value, or the error that stopped it.
#pragma once

#include <stdexcept>
#include <utility>
#include <variant>

#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"

HCF_NAMESPACE_BEGIN

/// Holds either a value or an error. `value()` on an error (or `error()` on a value) raises
/// std::logic_error: check `ok()` first.
template <typename T>
class Result {
 public:
  /// A result holding `value`, or one holding `error`: either converts implicitly, so that a
  /// function returning a `Result` can return a value or an error as it is.
  ///@{
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}         // NOLINT: implicit
  Result(HCFError error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT
  ///@}

  /// True when it holds a value.
  bool ok() const noexcept { return state_.index() == 0; }
  /// `ok()`, for `if (auto r = ...)`.
  explicit operator bool() const noexcept { return ok(); }

  /// The value. @throws std::logic_error when it holds an error.
  ///@{
  const T& value() const& {
    if (!ok()) throw std::logic_error("Result holds an error: " + error().localizedDescription);
    return std::get<0>(state_);
  }
  T& value() & {
    if (!ok()) throw std::logic_error("Result holds an error: " + error().localizedDescription);
    return std::get<0>(state_);
  }
  T&& value() && {
    if (!ok()) throw std::logic_error("Result holds an error: " + error().localizedDescription);
    return std::get<0>(std::move(state_));
  }
  ///@}
  /// The error. @throws std::logic_error when it holds a value.
  const HCFError& error() const {
    if (ok()) throw std::logic_error("Result holds a value, not an error");
    return std::get<1>(state_);
  }
  /// `value()`, with the same exception when it holds an error.
  ///@{
  const T& operator*() const& { return value(); }
  T& operator*() & { return value(); }
  const T* operator->() const { return &value(); }
  T* operator->() { return &value(); }
  ///@}

 private:
  std::variant<T, HCFError> state_;
};

HCF_NAMESPACE_END
