#include "signing/property_text.h"

#include <array>
#include <cstdint>

namespace quillbox {
namespace {

bool IsXmlChar(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the character reference at the start of `text` ("&#...;"), or 0 when there is none
// or it names no XML character.
std::size_t CharacterReferenceLength(std::string_view text) {
  if (!text.starts_with("&#")) return 0;
  const bool hex = text.size() > 2 && text[2] == 'x';
  std::size_t i = hex ? 3 : 2;
  const std::size_t firstDigit = i;
  std::uint32_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], hex);
    if (digit < 0) break;
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    if (value > 0x10FFFF) return 0;
  }
  if (i == firstDigit || i >= text.size() || text[i] != ';' || !IsXmlChar(value)) return 0;
  return i + 1;
}

std::size_t PredefinedEntityReferenceLength(std::string_view text) {
  static constexpr std::array<std::string_view, 5> kPredefined = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
  for (std::string_view reference : kPredefined) {
    if (text.starts_with(reference)) return reference.size();
  }
  return 0;
}

}  // namespace

bool IsXmlCharacterData(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (lead >= 0x80 && (lead < 0xC2 || lead > 0xF4 || i + length > utf8.size())) return false;
    std::uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = c << 6 | (next & 0x3F);
    }
    if (!IsXmlChar(c)) return false;
    i += length;
  }
  return true;
}

std::string EscapeBareAmpersands(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const std::size_t amp = utf8.find('&');
    out.append(utf8.substr(0, amp));
    if (amp == std::string_view::npos) break;
    utf8.remove_prefix(amp);
    std::size_t reference = CharacterReferenceLength(utf8);
    if (reference == 0) reference = PredefinedEntityReferenceLength(utf8);
    if (reference == 0) {
      out.append("&amp;");
      utf8.remove_prefix(1);
    } else {
      out.append(utf8.substr(0, reference));
      utf8.remove_prefix(reference);
    }
  }
  return out;
}

}  // namespace quillbox
