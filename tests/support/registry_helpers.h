// Small helpers for registry assertions.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quillbox::test {

class Key {
 public:
  Key() = default;
  explicit Key(HKEY key) : key_(key) {}
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

inline bool KeyExists(HKEY root, const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline LSTATUS CreateKey(HKEY root, const std::u16string& path) {
  HKEY key = nullptr;
  const LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

// The string value `name` (null: the default value) of root\path, without its terminator.
inline std::optional<std::u16string> ReadString(HKEY root, const std::u16string& path, const char16_t* name = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0;
  DWORD size = 0;
  std::optional<std::u16string> result;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::u16string text(size / 2, u'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) == ERROR_SUCCESS) {
      text.resize(size / 2);
      while (!text.empty() && text.back() == 0) text.pop_back();
      result = text;
    }
  }
  RegCloseKey(key);
  return result;
}

inline LSTATUS WriteString(HKEY root, const std::u16string& path, const char16_t* name, const std::u16string& value) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
  return status;
}

// Every key below root\path (path itself excluded), as backslash paths relative to it, in
// enumeration order, depth first.
inline std::vector<std::u16string> SubTree(HKEY root, const std::u16string& path) {
  std::vector<std::u16string> out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  for (DWORD index = 0;; ++index) {
    char16_t name[256];
    DWORD units = 256;
    if (RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    const std::u16string child(name, units);
    out.push_back(child);
    for (const auto& below : SubTree(root, path.empty() ? child : path + u"\\" + child))
      out.push_back(child + u"\\" + below);
  }
  if (key != root) RegCloseKey(key);
  return out;
}

}  // namespace quillbox::test
