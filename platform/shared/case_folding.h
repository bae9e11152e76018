// The platform's case rules, one per purpose:
//
// - FoldName: names that Windows compares without regard to case (registry key and value names,
//   type-library member and type names). Windows upper-cases such names unit by unit with a fixed
//   table; this one covers the letters anyone uses in them (ASCII, Latin-1, Latin Extended-A,
//   Greek, Cyrillic, full-width Latin) and leaves the rest as they are.
// - UnicodeUpper: text that is searched or upper-cased as text (a certificate subject search,
//   CharUpperA), with Unicode's simple case mapping.
// - AsciiUpper / AsciiLower / EqualsIgnoringAsciiCase: names made only of ASCII by definition
//   (code-set names, library file names, resource names, store names). Never the C library's
//   toupper/strcasecmp, whose answer depends on the locale (a Turkish locale lower-cases 'I' to a
//   dotless i).
#pragma once

#include <string>
#include <string_view>

namespace qb::platform {

char16_t FoldNameUnit(char16_t unit);
std::u16string FoldName(std::u16string_view name);
bool NamesEqual(std::u16string_view a, std::u16string_view b);

// Unicode simple upper case of a code point; a code point without one is returned as it is.
char32_t UnicodeUpper(char32_t codePoint);

constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// A UTF-16 text against an ASCII word ("true", "false").
bool EqualsIgnoringAsciiCase(std::u16string_view text, std::string_view word);

}  // namespace qb::platform
