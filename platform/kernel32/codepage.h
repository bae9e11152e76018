// The process's ANSI code page, decided once from the locale environment.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

namespace qb::platform {

struct AnsiCodePage {
  enum class Kind { Utf8, SingleByte, MultiByte };
  Kind kind = Kind::Utf8;
  std::string codeset;  // as iconv names it, e.g. "ISO-8859-2"
  UINT number = CP_UTF8;
  // Single-byte code pages are tables: byte to UTF-16 unit (0xFFFF where the byte is undefined),
  // and UTF-16 unit back to byte (0 where the unit has no byte; unit 0 itself maps to byte 0).
  std::array<char16_t, 256> toWide{};
  std::vector<unsigned char> toNarrow;
};

// Decides the code page from an explicit locale name; exposed so tests can check the rule.
AnsiCodePage MakeAnsiCodePage(const std::string& localeName);
const AnsiCodePage& TheAnsiCodePage();
std::string LocaleNameFromEnvironment();

}  // namespace qb::platform
