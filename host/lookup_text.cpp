#include "host/lookup_text.h"

#include "host/cli.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

namespace quillbox::host {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// --- issuer names ---

struct Attribute {
  std::string key;  // as crypt32 writes it
  std::string value;
};
using RelativeName = std::vector<Attribute>;

// The attribute keys crypt32 writes, by the names other tools use for them (any case).
std::optional<std::string> ComponentKey(std::string_view key) {
  static const std::vector<std::pair<std::vector<std::string_view>, std::string_view>> kKeys = {
      {{"CN", "commonName"}, "CN"},
      {{"L", "localityName"}, "L"},
      {{"O", "organizationName"}, "O"},
      {{"OU", "organizationalUnitName"}, "OU"},
      {{"E", "emailAddress", "email"}, "E"},
      {{"C", "countryName"}, "C"},
      {{"S", "ST", "stateOrProvinceName"}, "S"},
      {{"STREET", "streetAddress"}, "STREET"},
      {{"T", "title"}, "T"},
      {{"G", "GN", "givenName"}, "G"},
      {{"I", "initials"}, "I"},
      {{"SN", "surname"}, "SN"},
      {{"DC", "domainComponent"}, "DC"},
      {{"SERIALNUMBER", "serialNumber"}, "SERIALNUMBER"},
      {{"Description"}, "Description"},
      {{"PostalCode"}, "PostalCode"},
      {{"POBox", "postOfficeBox"}, "POBox"},
      {{"Phone", "telephoneNumber"}, "Phone"},
      {{"X21Address"}, "X21Address"},
      {{"dnQualifier"}, "dnQualifier"},
      // Keys crypt32 has no name for, written as their object identifier.
      {{"organizationIdentifier"}, "OID.2.5.4.97"},
      {{"businessCategory"}, "OID.2.5.4.15"},
      {{"UID", "userId"}, "OID.0.9.2342.19200300.100.1.1"},
      {{"jurisdictionC", "jurisdictionCountryName"}, "OID.1.3.6.1.4.1.311.60.2.1.3"},
      {{"jurisdictionST", "jurisdictionStateOrProvinceName"}, "OID.1.3.6.1.4.1.311.60.2.1.2"},
      {{"jurisdictionL", "jurisdictionLocalityName"}, "OID.1.3.6.1.4.1.311.60.2.1.1"},
  };
  for (const auto& [names, written] : kKeys) {
    for (std::string_view name : names) {
      if (name.size() == key.size() && StartsWithNoCase(key, name)) return std::string(written);
    }
  }
  // A dotted object identifier, with or without "OID.".
  std::string_view dotted = StartsWithNoCase(key, "OID.") ? key.substr(4) : key;
  const bool isOid = !dotted.empty() && std::isdigit(static_cast<unsigned char>(dotted.front())) &&
                     std::all_of(dotted.begin(), dotted.end(),
                                 [](char c) { return c == '.' || std::isdigit(static_cast<unsigned char>(c)); });
  if (isOid) return "OID." + std::string(dotted);
  return std::nullopt;
}

// Whether `text` starts with "KEY=" (blanks allowed around the key): where a separator really
// separates, so that a comma or slash inside a value that nobody escaped stays in the value.
bool StartsWithKey(std::string_view text) {
  text = Trimmed(text);
  std::size_t i = 0;
  while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '.' || text[i] == '-')) ++i;
  if (i == 0) return false;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i < text.size() && text[i] == '=';
}

// The pieces of `text` between separators `separator` that stand outside quotes and escapes and
// before a "KEY=". `spaced` tells whether every such separator was followed by a blank.
std::vector<std::string_view> Split(std::string_view text, char separator, bool* spaced = nullptr) {
  std::vector<std::string_view> pieces;
  bool quoted = false;
  std::size_t start = 0;
  if (spaced != nullptr) *spaced = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && !quoted) {
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == separator && !quoted && StartsWithKey(text.substr(i + 1))) {
      pieces.push_back(text.substr(start, i - start));
      if (spaced != nullptr && (i + 1 >= text.size() || !IsBlank(text[i + 1]))) *spaced = false;
      start = i + 1;
    }
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

// A value as written: quoted ("" or \" inside), or with backslash escapes (\, and \C3\A9).
std::string Unescaped(std::string_view value) {
  std::string out;
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
    for (std::size_t i = 0; i < value.size(); ++i) {
      if ((value[i] == '"' || value[i] == '\\') && i + 1 < value.size() && value[i + 1] == '"') ++i;
      out += value[i];
    }
    return out;
  }
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      if (i + 2 < value.size() && HexValue(value[i + 1]) >= 0 && HexValue(value[i + 2]) >= 0) {
        out += static_cast<char>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
        i += 2;
      } else {
        out += value[++i];
      }
      continue;
    }
    out += value[i];
  }
  return out;
}

struct ParsedName {
  std::vector<RelativeName> names;
  bool spacedEquals = false;  // "C = SI", openssl's own form
  bool keysAsWritten = true;  // every key already as crypt32 writes it
};

std::optional<ParsedName> ParseName(std::string_view text, char separator, bool* spaced) {
  ParsedName parsed;
  for (std::string_view piece : Split(text, separator, spaced)) {
    RelativeName relative;
    for (std::string_view part : Split(piece, '+')) {
      const std::size_t equals = part.find('=');
      if (equals == std::string_view::npos) return std::nullopt;
      const std::string_view rawKey = part.substr(0, equals);
      const std::string_view key = Trimmed(rawKey);
      if (!rawKey.empty() && IsBlank(rawKey.back())) parsed.spacedEquals = true;
      const auto written = ComponentKey(key);
      if (!written) return std::nullopt;
      if (*written != key) parsed.keysAsWritten = false;
      relative.push_back({*written, Unescaped(Trimmed(part.substr(equals + 1)))});
    }
    parsed.names.push_back(std::move(relative));
  }
  return parsed;
}

// crypt32's quoting: a value that is empty, starts or ends with a blank, or holds a separator.
std::string Written(const std::string& value) {
  const bool needsQuotes = value.empty() || std::isspace(static_cast<unsigned char>(value.front())) ||
                           std::isspace(static_cast<unsigned char>(value.back())) ||
                           value.find_first_of(",+=\"\n<>#;") != std::string::npos;
  if (!needsQuotes) return value;
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string Rendered(const std::vector<RelativeName>& names) {
  std::string out;
  for (const RelativeName& relative : names) {
    if (!out.empty()) out += ", ";
    for (std::size_t i = 0; i < relative.size(); ++i) {
      if (i > 0) out += " + ";
      out += relative[i].key + "=" + Written(relative[i].value);
    }
  }
  return out;
}

}  // namespace

std::string SerialForLookup(std::string_view given) {
  std::string_view text = Trimmed(given);
  if (StartsWithNoCase(text, "serial=")) text = Trimmed(text.substr(7));
  // openssl x509 -text writes a short serial in decimal with its hexadecimal in brackets.
  if (const std::size_t open = text.find("(0x"); open != std::string_view::npos && text.ends_with(")")) {
    text = text.substr(open + 1, text.size() - open - 2);
  }
  if (StartsWithNoCase(text, "0x")) text.remove_prefix(2);
  std::string digits;
  for (char c : text) {
    if (c == ':' || c == '-' || IsBlank(c)) continue;
    if (HexValue(c) < 0) {
      throw UsageError("--serial takes the serial number in hexadecimal, as 'quillbox certs' prints it");
    }
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (digits.empty()) throw UsageError("--serial is empty");
  if (digits.size() % 2 != 0) digits.insert(0, "0");
  // DER writes a positive integer whose first byte has its high bit set with a 00 before it.
  if (HexValue(digits[0]) >= 8) digits.insert(0, "00");
  return digits;
}

std::string IssuerForLookup(std::string_view given) {
  std::string_view text = Trimmed(given);
  for (std::string_view prefix : {"issuer=", "issuer:"}) {
    if (StartsWithNoCase(text, prefix)) text = Trimmed(text.substr(prefix.size()));
  }
  if (text.empty()) return std::string(given);
  bool spaced = true;
  // openssl's slash form, most general name first.
  if (text.front() == '/') {
    auto parsed = ParseName(text.substr(1), '/', &spaced);
    if (!parsed) return std::string(given);
    std::reverse(parsed->names.begin(), parsed->names.end());
    return Rendered(parsed->names);
  }
  auto parsed = ParseName(text, ',', &spaced);
  if (!parsed) return std::string(given);
  // openssl's "C = SI, O = Example": most general name first.
  if (parsed->spacedEquals) {
    std::reverse(parsed->names.begin(), parsed->names.end());
    return Rendered(parsed->names);
  }
  // Already the component's form: kept byte for byte.
  if (spaced && parsed->keysAsWritten) return std::string(text);
  // RFC 4514 ("CN=X,O=Y"), or the component's order with other tools' keys.
  return Rendered(parsed->names);
}

}  // namespace quillbox::host
