// Programmatic identifiers and the class keys under HKEY_CLASSES_ROOT.
#include "com_runtime.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace qb::platform::com {
namespace {

std::string Narrow(std::u16string_view text) {
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
  std::string narrow(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

std::u16string Widen(const std::string& text) {
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  return wide;
}

// %NAME% becomes the environment variable's value; unknown names stay as written, as Windows
// leaves them.
std::u16string ExpandEnvironment(const std::u16string& text) {
  std::u16string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find(u'%', at);
    const std::size_t close = open == std::u16string::npos ? open : text.find(u'%', open + 1);
    if (close == std::u16string::npos) break;
    out.append(text, at, open - at);
    const std::string name = Narrow(std::u16string_view(text).substr(open + 1, close - open - 1));
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value != nullptr) {
      out += Widen(value);
      at = close + 1;
    } else {
      out.push_back(u'%');
      at = open + 1;
    }
  }
  out.append(text, at);
  return out;
}

}  // namespace

bool IsProgIdText(LPCOLESTR text) {
  return text != nullptr && *text != 0 && std::u16string_view(text).find(u'\\') == std::u16string_view::npos;
}

std::optional<std::u16string> ReadClassesString(const std::u16string& path, const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
  std::optional<std::u16string> result;
  DWORD type = 0;
  std::vector<BYTE> data;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    data.resize(size);
    status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    if (status == ERROR_SUCCESS) {
      if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::u16string text(size / 2, u'\0');
        if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * 2);
        if (auto end = text.find(u'\0'); end != std::u16string::npos) text.resize(end);
        result = type == REG_EXPAND_SZ ? ExpandEnvironment(text) : text;
      }
      break;
    }
  }
  RegCloseKey(key);
  return result;
}

std::u16string GuidText(REFGUID guid) {
  char16_t text[39];
  StringFromGUID2(guid, text, 39);
  return text;
}

}  // namespace qb::platform::com

using qb::platform::com::IsProgIdText;
using qb::platform::com::ReadClassesString;

extern "C" {

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
  if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
  *clsid = CLSID_NULL;
  if (!IsProgIdText(progId)) return CO_E_CLASSSTRING;
  // A version-independent identifier without a CLSID of its own leads through CurVer to the
  // current versioned one; the hop limit stops a cycle.
  std::u16string current = progId;
  for (int hop = 0; hop < 16; ++hop) {
    if (auto text = ReadClassesString(current + u"\\CLSID")) {
      GUID parsed{};
      if (!qb::platform::ParseGuidText(text->c_str(), parsed)) return CO_E_CLASSSTRING;
      *clsid = parsed;
      return S_OK;
    }
    auto next = ReadClassesString(current + u"\\CurVer");
    if (!next || !IsProgIdText(next->c_str())) break;
    current = *next;
  }
  return CO_E_CLASSSTRING;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  *clsid = CLSID_NULL;
  if (text == nullptr) return S_OK;
  if (text[0] == u'{') {
    GUID parsed{};
    if (!qb::platform::ParseGuidText(text, parsed)) return CO_E_CLASSSTRING;
    *clsid = parsed;
    return S_OK;
  }
  return SUCCEEDED(CLSIDFromProgID(text, clsid)) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (progId == nullptr) return E_INVALIDARG;
  *progId = nullptr;
  auto text = ReadClassesString(u"CLSID\\" + qb::platform::com::GuidText(clsid) + u"\\ProgID");
  if (!text || text->empty()) return REGDB_E_CLASSNOTREG;
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text->size() + 1) * sizeof(OLECHAR)));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, text->c_str(), (text->size() + 1) * sizeof(OLECHAR));
  *progId = copy;
  return S_OK;
}

}  // extern "C"
