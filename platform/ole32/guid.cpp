// GUIDs: creation from the kernel's random source, and the registry text form.
#include <objbase.h>

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kGuidTextUnits = 39;  // "{8-4-4-4-12}" and the terminator

void PutHex(OLECHAR*& out, std::uint64_t value, int digits) {
  static constexpr char hex[] = "0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *out++ = static_cast<OLECHAR>(hex[(value >> shift) & 0xF]);
}

int HexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool ReadHex(LPCOLESTR& in, int digits, std::uint64_t& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    const int v = HexValue(in[i]);
    if (v < 0) return false;
    value = (value << 4) | static_cast<std::uint64_t>(v);
  }
  in += digits;
  return true;
}

bool ParseGuid(LPCOLESTR text, GUID& guid) {
  if (text == nullptr || *text != u'{') return false;
  LPCOLESTR in = text + 1;
  std::uint64_t v;
  if (!ReadHex(in, 8, v) || *in++ != u'-') return false;
  guid.Data1 = static_cast<std::uint32_t>(v);
  if (!ReadHex(in, 4, v) || *in++ != u'-') return false;
  guid.Data2 = static_cast<std::uint16_t>(v);
  if (!ReadHex(in, 4, v) || *in++ != u'-') return false;
  guid.Data3 = static_cast<std::uint16_t>(v);
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && *in++ != u'-') return false;
    if (!ReadHex(in, 2, v)) return false;
    guid.Data4[i] = static_cast<std::uint8_t>(v);
  }
  return in[0] == u'}' && in[1] == 0;
}

}  // namespace

extern "C" {

HRESULT WINAPI CoCreateGuid(GUID* guid) {
  if (guid == nullptr) return E_INVALIDARG;
  unsigned char bytes[16];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    }
    got += static_cast<std::size_t>(n);
  }
  std::memcpy(guid, bytes, sizeof bytes);
  guid->Data3 = static_cast<std::uint16_t>((guid->Data3 & 0x0FFF) | 0x4000);  // version 4: random
  guid->Data4[0] = static_cast<std::uint8_t>((guid->Data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  return S_OK;
}

int WINAPI StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
  if (text == nullptr || size < kGuidTextUnits) return 0;
  OLECHAR* out = text;
  *out++ = u'{';
  PutHex(out, guid.Data1, 8);
  *out++ = u'-';
  PutHex(out, guid.Data2, 4);
  *out++ = u'-';
  PutHex(out, guid.Data3, 4);
  *out++ = u'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) *out++ = u'-';
    PutHex(out, guid.Data4[i], 2);
  }
  *out++ = u'}';
  *out = 0;
  return kGuidTextUnits;
}

HRESULT WINAPI StringFromIID(REFIID iid, LPOLESTR* text) {
  if (text == nullptr) return E_INVALIDARG;
  *text = static_cast<LPOLESTR>(CoTaskMemAlloc(kGuidTextUnits * sizeof(OLECHAR)));
  if (*text == nullptr) return E_OUTOFMEMORY;
  StringFromGUID2(iid, *text, kGuidTextUnits);
  return S_OK;
}

HRESULT WINAPI StringFromCLSID(REFCLSID clsid, LPOLESTR* text) { return StringFromIID(clsid, text); }

HRESULT WINAPI IIDFromString(LPCOLESTR text, LPIID iid) {
  if (iid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    std::memset(iid, 0, sizeof *iid);
    return S_OK;
  }
  GUID parsed{};
  if (!ParseGuid(text, parsed)) return CO_E_IIDSTRING;
  *iid = parsed;
  return S_OK;
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T size) { return std::malloc(size == 0 ? 1 : size); }
LPVOID WINAPI CoTaskMemRealloc(LPVOID block, SIZE_T size) { return std::realloc(block, size == 0 ? 1 : size); }
void WINAPI CoTaskMemFree(LPVOID block) { std::free(block); }

}  // extern "C"

// CLSIDFromString also accepts programmatic identifiers, which needs the registry; it lives with
// the activation code. The braced form is parsed here for it.
namespace qb::platform {
bool ParseGuidText(LPCOLESTR text, GUID& guid) { return ParseGuid(text, guid); }
}  // namespace qb::platform
