// An engine step called as the object calls it: a failure is recorded in the error report as the
// object records the one error its call gets back, and the value (empty after a failure) is
// handed to the test.
#pragma once

#include "common/result.h"
#include "component/error_report.h"

#include <utility>

namespace quillbox::test {

template <typename T>
T Recorded(Result<T> result) {
  if (!result) SetError(result.error());
  return std::move(result).value();
}

}  // namespace quillbox::test
