// The version resource in the VS_VERSIONINFO layout Windows tools read: a fixed part, one string
// table per language and code page, and the translation list.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qbrc {

struct VersionInfo {
  std::uint16_t fileVersion[4] = {};
  std::uint16_t productVersion[4] = {};
  std::uint32_t fileFlagsMask = 0x3F;
  std::uint32_t fileFlags = 0;
  std::uint32_t fileOs = 0x4;    // VOS__WINDOWS32
  std::uint32_t fileType = 0x2;  // VFT_DLL
  std::uint32_t fileSubtype = 0;
  struct StringTable {
    std::string key;  // "040904b0": language and code page in hexadecimal
    std::vector<std::pair<std::string, std::string>> values;
  };
  std::vector<StringTable> stringTables;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;  // (language, code page)
};

// Reads a version description (see resources/quillbox.version); throws std::runtime_error with
// "line N: ..." on bad input.
VersionInfo ParseVersionInfo(const std::string& text);
std::vector<std::uint8_t> EncodeVersionInfo(const VersionInfo& info);

// UTF-8 to UTF-16 units; throws on malformed UTF-8.
std::u16string Utf16(const std::string& text);

}  // namespace qbrc
