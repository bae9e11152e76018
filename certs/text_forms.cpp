#include "certs/text_forms.h"

#include "common/ole_string.h"

#include <memory>
#include <string>

namespace quillbox {

BSTR IssuerNameText(PCCERT_CONTEXT certificate) {
  constexpr DWORD kForm = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  if (certificate == nullptr || certificate->pCertInfo == nullptr) return SysAllocString(OLESTR(""));
  const DWORD encoding = certificate->dwCertEncodingType;
  CERT_NAME_BLOB* issuer = &certificate->pCertInfo->Issuer;
  const DWORD size = CertNameToStrA(encoding, issuer, kForm, nullptr, 0);
  if (size <= 1) return SysAllocString(OLESTR(""));

  std::string narrow(size, '\0');
  CertNameToStrA(encoding, issuer, kForm, narrow.data(), size);
  const int units = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, nullptr, 0);
  if (units <= 1) return SysAllocString(OLESTR(""));
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(units - 1));
  if (text != nullptr) MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, text, units);
  return text;
}

BSTR SerialNumberText(PCCERT_CONTEXT certificate) {
  static constexpr OLECHAR kDigits[] = OLESTR("0123456789ABCDEF");
  if (certificate == nullptr || certificate->pCertInfo == nullptr) return SysAllocString(OLESTR(""));
  const CRYPT_INTEGER_BLOB& serial = certificate->pCertInfo->SerialNumber;
  OleString text;
  text.reserve(std::size_t{serial.cbData} * 2);
  for (DWORD i = serial.cbData; i > 0; --i) {  // stored least significant first
    const BYTE byte = serial.pbData[i - 1];
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace quillbox
