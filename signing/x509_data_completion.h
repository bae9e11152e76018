// Completes the signature's X509Data from the signing certificate where the library left it
// empty.
//
// xmlsec 1.2.37 (Debian 12) writes only the first empty child of X509Data when it signs; 1.2.38
// and later fill all of them. The signed document promises the certificate, its subject name and
// its issuer name with serial number, so what the library left empty is filled here after
// signing. X509Data lies outside SignedInfo, so this does not touch what the signature covers.
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
// form of X509SerialNumber.
std::string SerialNumberDecimal(const CRYPT_INTEGER_BLOB& serial);

}  // namespace quillbox
