#include "common/bstr.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace quillbox {

std::size_t UnitsBeforeNul(BSTR text) {
  if (text == nullptr) return 0;
  const std::size_t stored = SysStringLen(text);
  // Four units a word, never reading past the stored length: a word holds a zero unit exactly
  // when subtracting one from each unit borrows into a unit whose top bit was clear.
  constexpr std::uint64_t kOnes = 0x0001000100010001;
  constexpr std::uint64_t kTops = 0x8000800080008000;
  std::size_t at = 0;
  for (; stored - at >= 4; at += 4) {
    std::uint64_t word;
    std::memcpy(&word, text + at, sizeof word);
    if (((word - kOnes) & ~word & kTops) != 0) break;
  }
  while (at < stored && text[at] != 0) ++at;
  return at;
}

Utf8Text BstrToUtf8(BSTR text, std::size_t maxBytes) {
  Utf8Text result;
  if (text == nullptr) return result;
  maxBytes = std::min(maxBytes, kLongestUtf8Text);
  const std::size_t units = UnitsBeforeNul(text);
  // Every unit takes at least one byte, so a text with more units than bytes allowed is refused
  // without converting it.
  if (units > maxBytes) return result;
  // One pass into room for the longest form (three bytes a unit; a surrogate pair's four bytes
  // stand for two units): the room the text does not use is never touched, and goes back after.
  // Where that much address space is not to be had, the length is asked for first.
  std::size_t room = units > maxBytes / 3 ? maxBytes : units * 3;  // no wrap where size_t is 32 bits
  result.bytes.reset(static_cast<char*>(std::malloc(room + 1)));
  if (!result.bytes && units > 0) {
    const int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(units), nullptr, 0,
                                           nullptr, nullptr);
    if (needed <= 0 || static_cast<std::size_t>(needed) > maxBytes) return result;
    room = static_cast<std::size_t>(needed);
    result.bytes.reset(static_cast<char*>(std::malloc(room + 1)));
  }
  if (!result.bytes) return result;
  int bytes = 0;
  if (units > 0) {
    // Fails on an unpaired surrogate, and when the text would not fit in `maxBytes`.
    bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(units), result.bytes.get(),
                                static_cast<int>(room), nullptr, nullptr);
    if (bytes <= 0) {
      result.bytes.reset();
      return result;
    }
  }
  result.bytes[bytes] = '\0';
  result.length = bytes + 1;
  if (static_cast<std::size_t>(bytes) < room) {
    if (char* fitted = static_cast<char*>(std::realloc(result.bytes.get(), static_cast<std::size_t>(bytes) + 1))) {
      static_cast<void>(result.bytes.release());
      result.bytes.reset(fitted);
    }
  }
  return result;
}

BSTR Utf8ToBstr(const char* bytes, std::size_t size) {
  if (size == 0) return SysAllocStringLen(OLESTR(""), 0);
  if (size > static_cast<std::size_t>(INT_MAX)) return nullptr;
  // One pass into room for a unit a byte, the most UTF-8 ever takes; the rest is given back.
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(size));
  if (result == nullptr) return nullptr;
  const int units = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), result, static_cast<int>(size));
  if (units <= 0) {
    SysFreeString(result);
    return nullptr;
  }
  if (static_cast<std::size_t>(units) < size && !SysReAllocStringLen(&result, result, static_cast<UINT>(units))) {
    SysFreeString(result);
    return nullptr;
  }
  return result;
}

}  // namespace quillbox
