// The on-disk form of a type library (.tlb), version 1. Written by the interface compiler
// (tools/qbidl), read by LoadTypeLib (platform/oleaut32/typelib_reader.cpp). docs/typelib.md
// describes every field; this header is the one place their sizes and positions are fixed.
//
// All integers are little-endian. Offsets count bytes from the start of the file. A string
// reference is an offset into the string section, or kNoString for an absent (null) string; a
// string there is a 32-bit count of UTF-16 units followed by the units.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace qb::tlb {

inline constexpr std::array<char, 4> kMagic = {'Q', 'B', 'T', 'L'};
inline constexpr std::uint16_t kFormatMajor = 1;  // a reader refuses any other major version
inline constexpr std::uint16_t kFormatMinor = 0;  // minor versions only append, never reorder
inline constexpr std::uint32_t kNoString = 0xFFFFFFFFu;

// Sections, in the order of their (offset, count) pairs in the header.
enum Section : std::size_t {
  kStrings = 0,    // count = size in bytes
  kTypeDescs,      // TypeDescRecord
  kTypeInfos,      // TypeInfoRecord
  kFunctions,      // FunctionRecord
  kParams,         // ParamRecord
  kImplTypes,      // ImplTypeRecord
  kReferences,     // ReferenceRecord
  kImports,        // ImportRecord
  kSectionCount
};

// Header: magic, major, minor, file size, CRC-32 of the whole file computed with this field zero,
// the library record, then kSectionCount (offset, count) pairs.
inline constexpr std::size_t kHeaderPrefixSize = 16;
inline constexpr std::size_t kCrcOffset = 12;
inline constexpr std::size_t kLibraryRecordSize = 52;
inline constexpr std::size_t kSectionTableOffset = kHeaderPrefixSize + kLibraryRecordSize;
inline constexpr std::size_t kHeaderSize = kSectionTableOffset + kSectionCount * 8;

// Library record (52 bytes):  GUID libid | u32 lcid (the locale it registers under) |
//   u32 textLcid (the locale of its names and help strings) | u32 syskind | u16 major | u16 minor |
//   u16 libflags | u16 reserved (0) | str name | str docString | u32 helpContext | str helpFile
// TypeDesc (8 bytes):  u16 vt | u16 reserved (0) | u32 ref — for VT_PTR and VT_SAFEARRAY the index
//   of the element's TypeDesc, which must come earlier; for VT_USERDEFINED a reference index;
//   otherwise 0.
inline constexpr std::size_t kTypeDescRecordSize = 8;
// TypeInfo (64 bytes):  GUID | u32 typekind | u32 typeflags | str name | str docString |
//   u32 helpContext | u16 major | u16 minor | u16 cFuncs | u16 cVars (0) | u16 cImplTypes |
//   u16 cbSizeVft | u32 cbSizeInstance | u16 cbAlignment | u16 reserved (0) | u32 firstFunction |
//   u32 firstImplType
inline constexpr std::size_t kTypeInfoRecordSize = 64;
// Function (44 bytes):  i32 memid | u32 invkind | u32 funckind | u32 callconv | i16 oVft |
//   u16 funcflags | u16 cParams | u16 cParamsOpt | u32 returnTypeDesc | str name | str docString |
//   u32 helpContext | u32 firstParam
inline constexpr std::size_t kFunctionRecordSize = 44;
// Param (12 bytes):  u32 typeDesc | u16 paramflags | u16 reserved (0) | str name
inline constexpr std::size_t kParamRecordSize = 12;
// ImplType (8 bytes):  u32 reference | i32 impltypeflags
inline constexpr std::size_t kImplTypeRecordSize = 8;
// Reference (28 bytes):  GUID of the type | u32 kind (0 this library, 1 imported) |
//   u32 index (of the TypeInfo, or of the Import) | str name
inline constexpr std::size_t kReferenceRecordSize = 28;
inline constexpr std::uint32_t kReferenceInternal = 0;
inline constexpr std::uint32_t kReferenceImported = 1;
// Import (24 bytes):  GUID libid | u16 major | u16 minor | str file name
inline constexpr std::size_t kImportRecordSize = 24;

inline constexpr std::size_t kRecordSizes[kSectionCount] = {
    1, kTypeDescRecordSize, kTypeInfoRecordSize, kFunctionRecordSize,
    kParamRecordSize, kImplTypeRecordSize, kReferenceRecordSize, kImportRecordSize};

// CRC-32 (IEEE 802.3, reflected, as zlib computes it).
inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0) {
  crc = ~crc;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace qb::tlb
