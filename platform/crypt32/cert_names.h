// Distinguished names: decoding a DER Name and rendering it in the crypt32 string forms.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace qb::platform {

struct NameAttribute {
  std::string oid;          // dotted, "2.5.4.3"
  std::string value;        // UTF-8 text of a string value
  bool isText = true;       // false: `value` holds the encoded value as "#" and hex digits
};
using RelativeName = std::vector<NameAttribute>;
using DistinguishedName = std::vector<RelativeName>;  // in encoded order

// Null when `der` is not a well-formed Name.
std::optional<DistinguishedName> DecodeName(const BYTE* der, DWORD size);

// `strType` is CERT_SIMPLE_NAME_STR, CERT_OID_NAME_STR or CERT_X500_NAME_STR, optionally with
// CERT_NAME_STR_REVERSE_FLAG. UTF-8, quoted where a value needs it.
std::string RenderName(const DistinguishedName& name, DWORD strType);

// The attribute values joined by ", ", most specific first, unquoted: what a subject search
// looks into.
std::u16string SimpleNameForSearch(const DistinguishedName& name);

std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace qb::platform
