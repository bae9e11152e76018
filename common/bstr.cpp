#include "common/bstr.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace quillbox {

Utf8Text BstrToUtf8(BSTR text, std::size_t maxBytes) {
  Utf8Text result;
  if (text == nullptr) return result;
  maxBytes = std::min(maxBytes, kLongestUtf8Text);
  std::size_t units = 0;
  const std::size_t stored = SysStringLen(text);
  while (units < stored && text[units] != 0) ++units;
  // Every unit takes at least one byte, so a text with more units than bytes allowed is refused
  // without asking for its length.
  if (units > maxBytes) return result;
  int bytes = 0;
  if (units > 0) {
    bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(units), nullptr, 0, nullptr,
                                nullptr);
    if (bytes <= 0 || static_cast<std::size_t>(bytes) > maxBytes) return result;
  }
  result.bytes.reset(static_cast<char*>(std::malloc(static_cast<std::size_t>(bytes) + 1)));
  if (!result.bytes) return result;
  if (units > 0 && WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(units),
                                       result.bytes.get(), bytes, nullptr, nullptr) != bytes) {
    result.bytes.reset();
    return result;
  }
  result.bytes[bytes] = '\0';
  result.length = bytes + 1;
  return result;
}

BSTR Utf8ToBstr(const char* bytes, std::size_t size) {
  if (size == 0) return SysAllocStringLen(OLESTR(""), 0);
  if (size > static_cast<std::size_t>(INT_MAX)) return nullptr;
  const int units = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), nullptr, 0);
  if (units <= 0) return nullptr;
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (result == nullptr) return nullptr;
  MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), result, units);
  return result;
}

}  // namespace quillbox
