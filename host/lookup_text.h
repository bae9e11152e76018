// --serial and --issuer as people copy them from other tools, turned into the exact texts the
// component compares against (the issuer and serial texts 'quillbox certs' prints).
#pragma once

#include <string>
#include <string_view>

namespace quillbox::host {

// A serial number in any of the usual spellings: "0A:1B:...", "0a 1b ...", "0x0A1B...",
// "serial=0A1B..." (openssl x509 -serial), "4660 (0x1234)" (openssl x509 -text), with or without
// the 00 that DER puts before a first byte of 80 or more. Gives the DER content bytes in
// upper-case hexadecimal, two digits a byte, most significant first. Other leading zero bytes
// are kept as given, so the exact text of a certificate that carries them still matches. Throws
// UsageError for a text that is not a hexadecimal number.
std::string SerialForLookup(std::string_view given);

// An issuer name in the forms openssl prints ("C = SI, O = Example, CN = Example CA", and
// "/C=SI/O=Example/CN=Example CA") or RFC 4514's ("CN=Example CA,O=Example,C=SI"), rewritten
// in the component's form: most specific name first, ", " between names, crypt32's attribute
// keys (S for ST, E for emailAddress), values quoted where they hold a separator. A text already
// in that form, or one that cannot be read unambiguously, is returned as given.
std::string IssuerForLookup(std::string_view given);

}  // namespace quillbox::host
