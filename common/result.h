// What a step of the engine hands back: its value, or the error that stopped it. The engine never
// records an error itself; the object that called it records the one it gets back.
#pragma once

#include "common/error.h"

#include <utility>

namespace quillbox {

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor): a step returns its value as is
  Result(Error error) : error_(error) {}         // NOLINT(google-explicit-constructor): or the error that stopped it

  explicit operator bool() const { return error_ == Error::None; }
  Error error() const { return error_; }
  T& value() & { return value_; }
  T&& value() && { return std::move(value_); }

 private:
  T value_{};
  Error error_ = Error::None;
};

}  // namespace quillbox
