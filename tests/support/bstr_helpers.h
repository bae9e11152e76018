// Small helpers that keep test assertions about BSTRs readable; tests own the BSTRs they pass
// in with UniqueBstr.
#pragma once

#include "common/bstr_owner.h"

#include <oleauto.h>

#include <optional>
#include <string>

namespace quillbox::test {

// Takes ownership of `text`: nullopt for null, the whole stored length otherwise.
inline std::optional<std::u16string> Take(BSTR text) {
  if (text == nullptr) return std::nullopt;
  std::u16string copy(text, SysStringLen(text));
  SysFreeString(text);
  return copy;
}

}  // namespace quillbox::test
