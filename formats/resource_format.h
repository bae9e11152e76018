// The resources of a module, as the resource compiler (tools/qbrc) writes them into the ELF
// section kSectionName and the platform's FindResource reads them back. docs/resources.md
// describes the format; this header fixes its sizes and positions.
//
// All integers are little-endian; offsets count bytes from the start of the section.
//   Header (16 bytes):  "QBRS" | u16 major (1) | u16 minor (0) | u32 section size | u32 entries
//   Entry (28 bytes):   u32 typeId | u32 typeName | u32 nameId | u32 nameName | u16 language |
//                       u16 reserved (0) | u32 dataOffset | u32 dataSize
// A type or name is either a number (1..65535, its Name field kNoName) or a text (its Id field 0,
// its Name field the offset of a u16 byte count followed by that many upper-case ASCII bytes).
// Every resource's data starts on an 8-byte boundary.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qb::rsrc {

inline constexpr const char* kSectionName = ".qbrsrc";
inline constexpr std::array<char, 4> kMagic = {'Q', 'B', 'R', 'S'};
inline constexpr std::uint16_t kFormatMajor = 1;
inline constexpr std::uint16_t kFormatMinor = 0;
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kEntrySize = 28;
inline constexpr std::uint32_t kNoName = 0xFFFFFFFFu;
inline constexpr std::size_t kDataAlignment = 8;

}  // namespace qb::rsrc
