// BSTR allocation: a 32-bit byte length, the UTF-16 units, a zero unit.
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);
static_assert(kPrefix == 4, "a BSTR's byte length is the 32-bit count before its first unit, as on Windows");
static_assert(sizeof(OLECHAR) == 2, "the terminator and the unit counts are 2-byte UTF-16 units");

// Largest byte length that still fits the 32-bit prefix with room for the terminator.
constexpr std::uint64_t kMaxBytes = 0xFFFFFFFFull - kPrefix - sizeof(OLECHAR);

BSTR AllocateBytes(std::uint64_t bytes) {
  if (bytes > kMaxBytes) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const auto length = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &length, kPrefix);
  // The terminator is a whole zero unit after the data; for odd byte lengths one extra zero byte
  // lands first, which SysAllocStringByteLen's callers expect.
  std::memset(block + kPrefix + bytes, 0, sizeof(OLECHAR));
  return reinterpret_cast<BSTR>(block + kPrefix);
}

unsigned char* BlockOf(BSTR text) { return reinterpret_cast<unsigned char*>(text) - kPrefix; }

std::size_t UnitLength(const OLECHAR* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

extern "C" {

BSTR WINAPI SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(UnitLength(text)));
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
  BSTR result = AllocateBytes(std::uint64_t{length} * sizeof(OLECHAR));
  if (result != nullptr && text != nullptr) std::memcpy(result, text, std::size_t{length} * sizeof(OLECHAR));
  return result;
}

BSTR WINAPI SysAllocStringByteLen(LPCSTR bytes, UINT length) {
  BSTR result = AllocateBytes(length);
  if (result != nullptr && bytes != nullptr) std::memcpy(result, bytes, length);
  return result;
}

INT WINAPI SysReAllocString(BSTR* target, const OLECHAR* text) {
  if (target == nullptr) return FALSE;
  return SysReAllocStringLen(target, text, text == nullptr ? 0 : static_cast<UINT>(UnitLength(text)));
}

// The block is resized where it is, as Windows does: shortening a string in place copies nothing,
// and `text` may lie inside the old string (the old string's own start, to cut it short). A null
// `text` keeps the old units that still fit.
INT WINAPI SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
  if (target == nullptr) return FALSE;
  if (*target == nullptr) {
    BSTR fresh = SysAllocStringLen(text, length);
    if (fresh == nullptr) return FALSE;
    *target = fresh;
    return TRUE;
  }
  const std::uint64_t bytes = std::uint64_t{length} * sizeof(OLECHAR);
  if (bytes > kMaxBytes) return FALSE;
  unsigned char* old = BlockOf(*target);
  const auto* oldStart = reinterpret_cast<const unsigned char*>(*target);
  const auto* from = reinterpret_cast<const unsigned char*>(text);
  const bool inside = from != nullptr && std::less_equal<>()(oldStart, from) &&
                      std::less_equal<>()(from, oldStart + SysStringByteLen(*target));
  if (inside && from != oldStart) {
    // Moved to the front first, while every unit of it is still there; only what the old
    // string holds is moved.
    const std::size_t offset = static_cast<std::size_t>(from - oldStart);
    const std::size_t held = SysStringByteLen(*target) - offset;
    std::memmove(old + kPrefix, from, std::min<std::size_t>(held, bytes));
  }
  auto* block = static_cast<unsigned char*>(std::realloc(old, kPrefix + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return FALSE;
  auto* units = block + kPrefix;
  if (!inside && from != nullptr) std::memcpy(units, from, bytes);
  const auto stored = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &stored, kPrefix);
  std::memset(units + bytes, 0, sizeof(OLECHAR));
  *target = reinterpret_cast<BSTR>(units);
  return TRUE;
}

UINT WINAPI SysStringByteLen(BSTR text) {
  if (text == nullptr) return 0;
  std::uint32_t bytes;
  std::memcpy(&bytes, BlockOf(text), kPrefix);
  return bytes;
}

UINT WINAPI SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

void WINAPI SysFreeString(BSTR text) {
  if (text != nullptr) std::free(BlockOf(text));
}

}  // extern "C"
