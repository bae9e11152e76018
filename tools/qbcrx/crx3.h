// The CRX3 container Chromium installs packed extensions from:
//   "Cr24", version 3 (32-bit little-endian), the header's length, the header, the zip archive.
// The header is a CrxFileHeader protocol buffer holding one sha256_with_rsa proof (public key and
// signature) and signed_header_data, a SignedData message with the crx_id: the first 16 bytes of
// SHA-256 over the public key. The signature covers "CRX3 SignedData\0", the length of
// signed_header_data (32-bit little-endian), signed_header_data and the archive.
#pragma once

#include "qbcrx/rsa_key.h"

#include <string>

namespace qbcrx {

std::string PackCrx3(const std::string& zip, const RsaKey& key);

// The extension ID Chromium derives from a public key: the first 16 bytes of its SHA-256 in
// hexadecimal, written with the letters a to p for the digits 0 to f.
std::string ExtensionId(const std::string& subjectPublicKeyInfo);

}  // namespace qbcrx
