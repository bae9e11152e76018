#include "host/cert_text.h"

#include "host/text.h"

#include <windows.h>

#include <cstdint>

namespace quillbox::host {
namespace {

constexpr DWORD kX500Reversed = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;  // 0x02000003

// One DER element: its tag, its content, and the whole encoding.
struct Element {
  unsigned tag = 0;
  std::string_view content;
  std::string_view whole;
};

// Reads the element at the start of `input` and advances past it.
std::optional<Element> Next(std::string_view& input) {
  if (input.size() < 2) return std::nullopt;
  const auto tag = static_cast<unsigned char>(input[0]);
  if ((tag & 0x1F) == 0x1F) return std::nullopt;  // multi-byte tags appear nowhere we read
  std::size_t length = static_cast<unsigned char>(input[1]);
  std::size_t header = 2;
  if (length & 0x80) {
    const std::size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 4 || input.size() < 2 + bytes) return std::nullopt;
    length = 0;
    for (std::size_t i = 0; i < bytes; ++i) length = (length << 8) | static_cast<unsigned char>(input[2 + i]);
    header += bytes;
  }
  if (input.size() - header < length) return std::nullopt;
  Element element{tag, input.substr(header, length), input.substr(0, header + length)};
  input.remove_prefix(header + length);
  return element;
}

constexpr unsigned kSequence = 0x30;
constexpr unsigned kInteger = 0x02;
constexpr unsigned kExplicitVersion = 0xA0;

}  // namespace

std::string NameText(const CERT_NAME_BLOB& name) {
  CERT_NAME_BLOB copy = name;
  const DWORD size = CertNameToStrA(X509_ASN_ENCODING, &copy, kX500Reversed, nullptr, 0);
  if (size <= 1) return "";
  std::string narrow(size, '\0');
  CertNameToStrA(X509_ASN_ENCODING, &copy, kX500Reversed, narrow.data(), size);
  narrow.resize(size - 1);
  const int units = MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0) MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), wide.data(), units);
  return Utf16ToUtf8(wide);
}

std::string SerialText(const CRYPT_INTEGER_BLOB& serial) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (DWORD i = serial.cbData; i > 0; --i) {
    const BYTE byte = serial.pbData[i - 1];
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

bool AllowsDigitalSignature(const CERT_INFO& info) {
  for (DWORD i = 0; i < info.cExtension; ++i) {
    const CERT_EXTENSION& extension = info.rgExtension[i];
    if (extension.pszObjId == nullptr || std::string_view(extension.pszObjId) != "2.5.29.15") continue;
    std::string_view der(reinterpret_cast<const char*>(extension.Value.pbData), extension.Value.cbData);
    const auto bits = Next(der);
    constexpr unsigned kBitString = 0x03;
    // The content is the count of unused bits, then the bits; digitalSignature is the first.
    if (!bits || bits->tag != kBitString || bits->content.size() < 2) return false;
    return (static_cast<unsigned char>(bits->content[1]) & 0x80) != 0;
  }
  return true;
}

std::optional<CertificateFields> ReadCertificateFields(std::string_view der) {
  auto certificate = Next(der);
  if (!certificate || certificate->tag != kSequence) return std::nullopt;
  std::string_view body = certificate->content;
  auto tbs = Next(body);
  if (!tbs || tbs->tag != kSequence) return std::nullopt;
  std::string_view fields = tbs->content;
  auto element = Next(fields);
  if (element && element->tag == kExplicitVersion) element = Next(fields);
  if (!element || element->tag != kInteger) return std::nullopt;
  CertificateFields result;
  result.serial = element->content;
  auto algorithm = Next(fields);
  auto issuer = Next(fields);
  auto validity = Next(fields);
  auto subject = Next(fields);
  if (!algorithm || !issuer || !validity || !subject || issuer->tag != kSequence || subject->tag != kSequence) {
    return std::nullopt;
  }
  result.issuer = issuer->whole;
  result.subject = subject->whole;
  return result;
}

std::optional<CertificateTexts> TextsOfCertificate(std::string_view der) {
  const auto fields = ReadCertificateFields(der);
  if (!fields) return std::nullopt;
  auto blob = [](std::string_view bytes) {
    return CERT_NAME_BLOB{static_cast<DWORD>(bytes.size()),
                          reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
  };
  // CERT_INFO keeps the serial least significant byte first; the DER integer is the other way.
  std::string reversed(fields->serial.rbegin(), fields->serial.rend());
  const CRYPT_INTEGER_BLOB serial = blob(reversed);
  return CertificateTexts{NameText(blob(fields->subject)), NameText(blob(fields->issuer)), SerialText(serial)};
}

}  // namespace quillbox::host
