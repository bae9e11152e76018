// Builds DER-encoded X.500 names by hand, for tests that need names no certificate tool makes.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace quillbox::test::der {

using Bytes = std::vector<BYTE>;

inline Bytes Tlv(BYTE tag, const Bytes& content) {
  Bytes out{tag};
  const std::size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<BYTE>(n));
  } else if (n < 0x100) {
    out.insert(out.end(), {0x81, static_cast<BYTE>(n)});
  } else {
    out.insert(out.end(), {0x82, static_cast<BYTE>(n >> 8), static_cast<BYTE>(n & 0xFF)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

inline Bytes Text(const std::string& utf8) { return Bytes(utf8.begin(), utf8.end()); }

inline Bytes Printable(const std::string& text) { return Tlv(0x13, Text(text)); }
inline Bytes Utf8(const std::string& text) { return Tlv(0x0C, Text(text)); }
inline Bytes Bmp(const std::u16string& text) {
  Bytes content;
  for (char16_t unit : text) content.insert(content.end(), {static_cast<BYTE>(unit >> 8), static_cast<BYTE>(unit)});
  return Tlv(0x1E, content);
}

// Attribute type OIDs, as their encoded content.
inline const Bytes kCommonName{0x55, 0x04, 0x03};
inline const Bytes kOrganization{0x55, 0x04, 0x0A};
inline const Bytes kOrganizationalUnit{0x55, 0x04, 0x0B};
inline const Bytes kCountry{0x55, 0x04, 0x06};
inline const Bytes kEmail{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};

inline Bytes Attribute(const Bytes& oid, const Bytes& value) {
  Bytes content = Tlv(0x06, oid);
  content.insert(content.end(), value.begin(), value.end());
  return Tlv(0x30, content);
}

// One relative name of one or more attributes.
inline Bytes Rdn(std::initializer_list<Bytes> attributes) {
  Bytes content;
  for (const Bytes& a : attributes) content.insert(content.end(), a.begin(), a.end());
  return Tlv(0x31, content);
}

// A Name from relative names in encoded order (least specific first, as certificates write them).
inline Bytes Name(std::initializer_list<Bytes> rdns) {
  Bytes content;
  for (const Bytes& r : rdns) content.insert(content.end(), r.begin(), r.end());
  return Tlv(0x30, content);
}

inline CERT_NAME_BLOB Blob(Bytes& bytes) { return CERT_NAME_BLOB{static_cast<DWORD>(bytes.size()), bytes.data()}; }

}  // namespace quillbox::test::der
