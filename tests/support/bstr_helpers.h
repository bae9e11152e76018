// Small helpers that keep test assertions about BSTRs readable.
#pragma once

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

class TempBstr {
 public:
  explicit TempBstr(const std::u16string& text) : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~TempBstr() { SysFreeString(text_); }
  TempBstr(const TempBstr&) = delete;
  TempBstr& operator=(const TempBstr&) = delete;
  BSTR get() const { return text_; }
  operator BSTR() const { return text_; }

 private:
  BSTR text_;
};

}  // namespace quillbox::test
