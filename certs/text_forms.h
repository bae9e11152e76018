// The two texts that identify a certificate to the script: its issuer name and its serial number.
// The lookup compares against them and the picker stores them, so both are computed here only.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wincrypt.h>

namespace quillbox {

// The issuer in X.500 form, most specific name first, as it reads through the ANSI code page.
// A new text the caller frees; empty when the name renders to nothing; null only when out of memory.
BSTR IssuerNameText(PCCERT_CONTEXT certificate);

// The serial number as upper-case hexadecimal, two digits per byte, most significant byte first.
// A new text the caller frees; null only when out of memory.
BSTR SerialNumberText(PCCERT_CONTEXT certificate);

}  // namespace quillbox
