// The texts the dialogs show for a certificate, and the code-page conversions between the ANSI
// texts of the Windows interface, the UTF-8 that GTK takes and the terminal's own encoding.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace qb::cryptdlg {

// ANSI code page to UTF-8; bytes the code page cannot read come out as U+FFFD, so the result is
// always valid UTF-8.
std::string AnsiToUtf8(std::string_view text);
// UTF-8 with any invalid sequence replaced by U+FFFD, as GTK requires.
std::string ValidUtf8(std::string_view text);
// UTF-8 to the ANSI code page (the terminal's encoding); characters it lacks become '?'.
std::string Utf8ToAnsi(std::string_view text);

// A certificate name in the same X.500 form the component compares (relative distinguished names
// in reverse of their encoded order), as UTF-8. Empty when the name renders to nothing.
std::string NameText(PCCERT_CONTEXT certificate, const CERT_NAME_BLOB& name);
// The serial number as the component writes it: bytes most significant first, two upper-case
// hexadecimal digits each, no separators.
std::string SerialText(const CRYPT_INTEGER_BLOB& serial);
// A validity bound as "YYYY-MM-DD HH:MM:SS UTC"; empty for a time that cannot be represented.
// The calendar date and time of a FILETIME in UTC; nothing for a time gmtime cannot express.
std::optional<std::tm> UtcParts(const FILETIME& time);
std::string TimeText(const FILETIME& time);

// Wipes a buffer that held a password, in a way the compiler may not drop.
void Wipe(std::string& secret);

}  // namespace qb::cryptdlg
