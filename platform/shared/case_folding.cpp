// The platform's case rules (case_folding.h).
#include "case_folding.h"

#include <locale.h>
#include <wctype.h>

namespace qb::platform {

char16_t FoldNameUnit(char16_t c) {
  if (c < 0x80) return AsciiUpper(c);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);  // Latin-1, not ÷
  if (c == 0xFF) return 0x178;                                                       // ÿ, whose capital is in Extended-A
  if (c >= 0x100 && c <= 0x17F) {
    // Extended-A pairs capital and small letter as even and odd, except two runs that pair odd and
    // even; İ, ı and the letters without a pair stay.
    const bool oddLowered = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    const bool evenUpper = (c <= 0x137 && c != 0x130 && c != 0x131) || (c >= 0x14A && c <= 0x177);
    if (oddLowered && (c % 2 == 0)) return static_cast<char16_t>(c - 1);
    if (evenUpper && (c % 2 == 1)) return static_cast<char16_t>(c - 1);
    return c;
  }
  if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return static_cast<char16_t>(c - 0x20);  // Greek, not ς
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);  // Cyrillic а-я
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);  // Cyrillic ѐ-џ
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);  // full-width a-z
  return c;
}

std::u16string FoldName(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& unit : folded) unit = FoldNameUnit(unit);
  return folded;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldNameUnit(a[i]) != FoldNameUnit(b[i])) return false;
  return true;
}

char32_t UnicodeUpper(char32_t codePoint) {
  // The C.UTF-8 locale holds the Unicode case tables whatever locale the process runs in.
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (locale == locale_t{}) return codePoint < 0x80 ? static_cast<char32_t>(AsciiUpper(static_cast<char>(codePoint))) : codePoint;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(codePoint), locale));
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

bool EqualsIgnoringAsciiCase(std::u16string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (AsciiUpper(text[i]) != static_cast<char16_t>(static_cast<unsigned char>(AsciiUpper(word[i])))) return false;
  return true;
}

}  // namespace qb::platform
