// The texts that identify a certificate, computed as the component computes them for Sign's
// lookup: the X.500 rendering of the platform's CertNameToStrA, and the serial bytes as
// upper-case hexadecimal, most significant first.
#pragma once

#include <wincrypt.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillbox::host {

// CertNameToStrA with CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, read through the ANSI code
// page as the component reads it, given as UTF-8 for the console.
std::string NameText(const CERT_NAME_BLOB& name);
// `serial` holds the bytes least significant first, as CERT_INFO keeps them.
std::string SerialText(const CRYPT_INTEGER_BLOB& serial);

// False when the certificate has a key usage extension without digitalSignature: it is not meant
// for signatures. Without the extension, any use is allowed.
bool AllowsDigitalSignature(const CERT_INFO& info);

// The fields of a DER certificate that the texts need, pointing into the DER bytes.
struct CertificateFields {
  std::string_view serial;  // the INTEGER's content, most significant byte first
  std::string_view issuer;  // the whole Name, tag and length included
  std::string_view subject;
};
// Reads an X.509 certificate's TBSCertificate far enough to find them; nullopt when the bytes
// are not shaped like a certificate.
std::optional<CertificateFields> ReadCertificateFields(std::string_view der);

// The three texts of a DER certificate.
struct CertificateTexts {
  std::string subject;
  std::string issuer;
  std::string serial;
};
std::optional<CertificateTexts> TextsOfCertificate(std::string_view der);

}  // namespace quillbox::host
