// BSTR copies and the UTF-8 form handed to the XML libraries; the owner itself is shared.
#pragma once

#include "common/bstr_owner.h"
#include "common/ole_string.h"

#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace quillbox {

// The units of `text` before its first zero unit, within its stored length; 0 for null.
std::size_t UnitsBeforeNul(BSTR text);
// A new BSTR holding the text up to its first zero unit (SysAllocString rules); null stays null.
inline BSTR CopyUpToNul(BSTR text) {
  return text == nullptr ? nullptr : SysAllocStringLen(text, static_cast<UINT>(UnitsBeforeNul(text)));
}
// A new BSTR with the whole stored length of `text`; null for null.
inline BSTR CopyWhole(BSTR text) { return text == nullptr ? nullptr : SysAllocStringLen(text, SysStringLen(text)); }
inline BSTR MakeBstr(OleStringView text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

// The UTF-8 text of a BSTR up to its first zero unit, zero-terminated; `length` counts the
// terminating zero byte, as the XML parser is handed it.
struct Utf8Text {
  std::unique_ptr<char[], FreeDeleter> bytes;
  int length = 0;
  const char* data() const { return bytes.get(); }
  std::string_view view() const { return bytes ? std::string_view(bytes.get(), static_cast<std::size_t>(length - 1)) : std::string_view(); }
  explicit operator bool() const { return bytes != nullptr; }
};

// The most UTF-8 bytes a Utf8Text holds: its length, terminating zero included, is an int.
inline constexpr std::size_t kLongestUtf8Text = 0x7FFFFFFE;

// Null when `text` is null, when it holds an unpaired surrogate (no character of any document or
// property value: a text that carries one is refused, not signed with a stand-in), when its UTF-8
// form would take more than `maxBytes` bytes, or when the buffer cannot be allocated. A text that
// is too long is refused before anything is allocated for it.
Utf8Text BstrToUtf8(BSTR text, std::size_t maxBytes = kLongestUtf8Text);

// Reads `size` bytes of UTF-8 into a BSTR of exactly the counted length; null on failure. No
// bytes give an empty BSTR.
BSTR Utf8ToBstr(const char* bytes, std::size_t size);

}  // namespace quillbox
