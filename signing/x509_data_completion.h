// Writes the signature's X509Data from the signing certificate after signing.
//
// The library is told to leave KeyInfo alone (SignatureLibrary::DSigCtxLeaveKeyInfo): xmlsec
// 1.2.37 (Debian 12) writes only the first empty child of X509Data (1.2.38 and later fill all of
// them), and its NSS back end cannot write a serial number of more than eight bytes into
// X509IssuerSerial at all, failing the signature. The component therefore fills every child the
// template asks for itself, in the form xmlsec writes. X509Data lies outside SignedInfo, so this
// does not touch what the signature covers.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <libxml/tree.h>

#include <string>

namespace quillbox {

// Fills the empty X509Certificate, X509SubjectName and X509IssuerSerial children of the
// Signature element's KeyInfo/X509Data; children that already hold content are left alone. False
// when the content could not be made (out of memory) or the X509Data is missing.
bool CompleteX509Data(xmlNodePtr signature, PCCERT_CONTEXT certificate);

// The serial number (stored least significant byte first) as an unsigned decimal integer, the
// form of X509SerialNumber; exact for any length.
std::string SerialNumberDecimal(const CRYPT_INTEGER_BLOB& serial);

}  // namespace quillbox
