// The ANSI registry functions: names and string data pass through the ANSI code page, everything
// else is handed to the UTF-16 functions unchanged.
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

std::u16string Widen(const char* text, int bytes) {
  if (bytes == 0) return {};
  const int units = MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0) MultiByteToWideChar(CP_ACP, 0, text, bytes, wide.data(), units);
  return wide;
}

std::optional<std::u16string> WidenName(LPCSTR name) {
  if (name == nullptr) return std::nullopt;
  return Widen(name, static_cast<int>(std::strlen(name)));
}

LPCWSTR Pointer(const std::optional<std::u16string>& text) { return text ? text->c_str() : nullptr; }

std::string Narrow(const char16_t* text, std::size_t units) {
  if (units == 0) return {};
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

extern "C" {

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR, DWORD options, REGSAM access,
                               LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  const auto wide = WidenName(subKey);
  return RegCreateKeyExW(key, Pointer(wide), reserved, nullptr, options, access, security, result, disposition);
}

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  const auto wide = WidenName(subKey);
  return RegOpenKeyExW(key, Pointer(wide), options, access, result);
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  const auto wideName = WidenName(name);
  if (!IsStringType(type) || data == nullptr)
    return RegSetValueExW(key, Pointer(wideName), reserved, type, data, size);
  const std::u16string wide = Widen(reinterpret_cast<const char*>(data), static_cast<int>(size));
  return RegSetValueExW(key, Pointer(wideName), reserved, type, reinterpret_cast<const BYTE*>(wide.data()),
                        static_cast<DWORD>(wide.size() * sizeof(char16_t)));
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  const auto wideName = WidenName(name);
  DWORD storedType = 0;
  DWORD storedSize = 0;
  LSTATUS status = RegQueryValueExW(key, Pointer(wideName), nullptr, &storedType, nullptr, &storedSize);
  if (status != ERROR_SUCCESS) return status;
  std::vector<BYTE> stored(storedSize);
  // The value may change between the two calls; retry until the size holds still.
  while ((status = RegQueryValueExW(key, Pointer(wideName), nullptr, &storedType, stored.data(), &storedSize)) ==
         ERROR_MORE_DATA)
    stored.resize(storedSize);
  if (status != ERROR_SUCCESS) return status;
  stored.resize(storedSize);
  if (type != nullptr) *type = storedType;
  if (IsStringType(storedType)) {
    std::u16string wide(stored.size() / 2, u'\0');
    std::memcpy(wide.data(), stored.data(), wide.size() * 2);
    const std::string narrow = Narrow(wide.data(), wide.size());
    stored.assign(narrow.begin(), narrow.end());
  }
  const auto needed = static_cast<DWORD>(stored.size());
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed != 0) std::memcpy(data, stored.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

}  // extern "C"
