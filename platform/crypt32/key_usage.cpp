// CertGetIntendedKeyUsage: the keyUsage extension read from the certificate's own extension list,
// so it answers for any CERT_INFO, whatever store the certificate came from.
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>

namespace {

const CERT_EXTENSION* FindExtension(const CERT_INFO& info, const char* oid) {
  if (info.rgExtension == nullptr) return nullptr;
  for (DWORD i = 0; i < info.cExtension; ++i) {
    const CERT_EXTENSION& extension = info.rgExtension[i];
    if (extension.pszObjId != nullptr && std::strcmp(extension.pszObjId, oid) == 0) return &extension;
  }
  return nullptr;
}

// The content of the DER BIT STRING that is the extension's value, without its unused-bits
// count; false for anything else. The extension names at most nine bits, so a long-form length
// beyond one byte is not a keyUsage.
bool BitStringContent(const CRYPT_OBJID_BLOB& value, const BYTE*& bits, DWORD& count) {
  const BYTE* p = value.pbData;
  DWORD left = value.cbData;
  if (p == nullptr || left < 3 || p[0] != 0x03) return false;
  DWORD length = p[1];
  DWORD header = 2;
  if (length == 0x81) {
    length = p[2];
    header = 3;
  } else if (length > 0x7F) {
    return false;
  }
  if (length < 1 || header + length != left) return false;
  const BYTE unused = p[header];
  if (unused > 7 || (length == 1 && unused != 0)) return false;
  bits = p + header + 1;
  count = length - 1;
  return true;
}

}  // namespace

extern "C" BOOL WINAPI CertGetIntendedKeyUsage(DWORD /*encoding*/, PCERT_INFO info, BYTE* usage, DWORD size) {
  if (info == nullptr || (usage == nullptr && size > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (size > 0) std::memset(usage, 0, size);
  const CERT_EXTENSION* extension = FindExtension(*info, szOID_KEY_USAGE);
  if (extension == nullptr) {
    SetLastError(ERROR_SUCCESS);
    return FALSE;
  }
  const BYTE* bits = nullptr;
  DWORD count = 0;
  if (!BitStringContent(extension->Value, bits, count)) {
    SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    return FALSE;
  }
  if (count > 0 && size > 0) std::memcpy(usage, bits, std::min(count, size));
  return TRUE;
}
