// Name decoding goes through NSS's DER decoder and its string-value conversion (PrintableString,
// T61String, IA5String, UTF8String, BMPString and UniversalString all come out as UTF-8); the
// rendering follows crypt32's: X.500 keys such as CN and O, ", " between relative names, " + "
// inside one, values in double quotes when they hold a separator.
#include "cert_names.h"

#include <wincrypt.h>

#include <cert.h>
#include <prprf.h>
#include <secasn1.h>
#include <secitem.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace qb::platform {
namespace {

struct ArenaDeleter {
  void operator()(PLArenaPool* arena) const { PORT_FreeArena(arena, PR_FALSE); }
};
struct ItemDeleter {
  void operator()(SECItem* item) const { SECITEM_FreeItem(item, PR_TRUE); }
};
struct OidStringDeleter {
  void operator()(char* text) const { PR_smprintf_free(text); }
};

// The X.500 keys crypt32 knows; other attributes are written as "OID." and the dotted number.
struct X500Key {
  const char* oid;
  const char* key;
};
constexpr X500Key kX500Keys[] = {
    {"2.5.4.3", "CN"},        {"2.5.4.7", "L"},          {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},       {"1.2.840.113549.1.9.1", "E"}, {"2.5.4.6", "C"},
    {"2.5.4.8", "S"},         {"2.5.4.9", "STREET"},     {"2.5.4.12", "T"},
    {"2.5.4.42", "G"},        {"2.5.4.43", "I"},         {"2.5.4.4", "SN"},
    {"0.9.2342.19200300.100.1.25", "DC"}, {"2.5.4.5", "SERIALNUMBER"}, {"2.5.4.13", "Description"},
    {"2.5.4.17", "PostalCode"}, {"2.5.4.18", "POBox"},   {"2.5.4.20", "Phone"},
    {"2.5.4.24", "X21Address"}, {"2.5.4.46", "dnQualifier"},
};

std::string DottedOid(const SECItem& oid) {
  std::unique_ptr<char, OidStringDeleter> text(CERT_GetOidString(&oid));
  if (!text) return {};
  std::string_view dotted(text.get());
  if (dotted.starts_with("OID.")) dotted.remove_prefix(4);
  return std::string(dotted);
}

std::string HexOf(const unsigned char* data, unsigned int size) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out = "#";
  for (unsigned int i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0x0F];
  }
  return out;
}

bool NeedsQuotes(const std::string& value) {
  if (value.empty()) return true;
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  if (isBlank(value.front()) || isBlank(value.back())) return true;
  return value.find_first_of(",+=\"\n<>#;") != std::string::npos;
}

std::string Quoted(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';  // a quote inside quotes is doubled
    out += c;
  }
  out += '"';
  return out;
}

std::string KeyFor(const std::string& oid, DWORD form) {
  if (form == CERT_X500_NAME_STR) {
    for (const X500Key& entry : kX500Keys)
      if (oid == entry.oid) return entry.key;
    return "OID." + oid;
  }
  return oid;  // CERT_OID_NAME_STR
}

}  // namespace

std::optional<DistinguishedName> DecodeName(const BYTE* der, DWORD size) {
  if (der == nullptr || size == 0) return std::nullopt;
  std::unique_ptr<PLArenaPool, ArenaDeleter> arena(PORT_NewArena(DER_DEFAULT_CHUNKSIZE));
  if (!arena) return std::nullopt;
  // The quick decoder points into its input, so the input lives in the arena too.
  SECItem input{siBuffer, nullptr, 0};
  if (SECITEM_AllocItem(arena.get(), &input, size) == nullptr) return std::nullopt;
  std::memcpy(input.data, der, size);
  CERTName decoded{};
  if (SEC_QuickDERDecodeItem(arena.get(), &decoded, SEC_ASN1_GET(CERT_NameTemplate), &input) != SECSuccess)
    return std::nullopt;

  DistinguishedName name;
  for (CERTRDN** rdn = decoded.rdns; rdn != nullptr && *rdn != nullptr; ++rdn) {
    RelativeName relative;
    for (CERTAVA** ava = (*rdn)->avas; ava != nullptr && *ava != nullptr; ++ava) {
      NameAttribute attribute;
      attribute.oid = DottedOid((*ava)->type);
      if (attribute.oid.empty()) return std::nullopt;
      std::unique_ptr<SECItem, ItemDeleter> text(CERT_DecodeAVAValue(&(*ava)->value));
      if (text) {
        attribute.value.assign(reinterpret_cast<const char*>(text->data), text->len);
      } else {
        attribute.isText = false;
        attribute.value = HexOf((*ava)->value.data, (*ava)->value.len);
      }
      relative.push_back(std::move(attribute));
    }
    name.push_back(std::move(relative));
  }
  return name;
}

std::string RenderName(const DistinguishedName& name, DWORD strType) {
  const DWORD form = strType & 0xFFFF;
  const bool reverse = (strType & CERT_NAME_STR_REVERSE_FLAG) != 0;
  const bool quoting = (strType & CERT_NAME_STR_NO_QUOTING_FLAG) == 0;
  std::string rdnSeparator = ", ";
  if (strType & CERT_NAME_STR_SEMICOLON_FLAG) rdnSeparator = "; ";
  if (strType & CERT_NAME_STR_CRLF_FLAG) rdnSeparator = "\r\n";
  const std::string avaSeparator = (strType & CERT_NAME_STR_NO_PLUS_FLAG) ? " " : " + ";

  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const RelativeName& relative = name[reverse ? name.size() - 1 - i : i];
    if (i > 0) out += rdnSeparator;
    for (std::size_t j = 0; j < relative.size(); ++j) {
      const NameAttribute& attribute = relative[j];
      if (j > 0) out += avaSeparator;
      if (form != CERT_SIMPLE_NAME_STR) out += KeyFor(attribute.oid, form) + "=";
      out += attribute.isText && quoting && NeedsQuotes(attribute.value) ? Quoted(attribute.value) : attribute.value;
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  if (text.empty()) return {};
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) return {};
  std::u16string out(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), units);
  return out;
}

std::u16string SimpleNameForSearch(const DistinguishedName& name) {
  std::string joined;
  for (auto rdn = name.rbegin(); rdn != name.rend(); ++rdn) {
    for (const NameAttribute& attribute : *rdn) {
      if (!joined.empty()) joined += ", ";
      joined += attribute.value;
    }
  }
  return Utf8ToUtf16(joined);
}

}  // namespace qb::platform
