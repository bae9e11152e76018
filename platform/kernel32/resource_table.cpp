#include "resource_table.h"

#include "shared/case_folding.h"

#include <resource_format.h>

#include <cctype>
#include <cstring>

namespace qb::platform {
namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// Reads a type or name: a number in 1..65535, or a text at `nameOffset`.
bool ReadKey(const std::vector<std::uint8_t>& b, std::uint32_t id, std::uint32_t nameOffset, std::uint32_t& outId,
             std::string& outName) {
  if (nameOffset == rsrc::kNoName) {
    if (id == 0 || id > 0xFFFF) return false;
    outId = id;
    return true;
  }
  if (id != 0 || std::uint64_t{nameOffset} + 2 > b.size()) return false;
  const std::uint16_t length = U16(b, nameOffset);
  if (length == 0 || std::uint64_t{nameOffset} + 2 + length > b.size()) return false;
  outName.assign(reinterpret_cast<const char*>(b.data()) + nameOffset + 2, length);
  for (char c : outName) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x21 || u > 0x7E || std::islower(u)) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<ResourceTable> ParseResourceTable(std::vector<std::uint8_t> section) {
  auto table = std::make_unique<ResourceTable>();
  table->section = std::move(section);
  const std::vector<std::uint8_t>& b = table->section;
  if (b.size() < rsrc::kHeaderSize || std::memcmp(b.data(), rsrc::kMagic.data(), rsrc::kMagic.size()) != 0)
    return nullptr;
  if (U16(b, 4) != rsrc::kFormatMajor) return nullptr;
  // The section may be padded by the linker beyond the size the table records.
  const std::uint32_t size = U32(b, 8);
  const std::uint32_t count = U32(b, 12);
  if (size < rsrc::kHeaderSize || size > b.size()) return nullptr;
  if (std::uint64_t{count} * rsrc::kEntrySize > size - rsrc::kHeaderSize) return nullptr;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = rsrc::kHeaderSize + std::size_t{i} * rsrc::kEntrySize;
    HRSRC__ entry;
    if (!ReadKey(b, U32(b, at), U32(b, at + 4), entry.typeId, entry.typeName)) return nullptr;
    if (!ReadKey(b, U32(b, at + 8), U32(b, at + 12), entry.nameId, entry.nameName)) return nullptr;
    entry.language = U16(b, at + 16);
    if (U16(b, at + 18) != 0) return nullptr;
    const std::uint32_t offset = U32(b, at + 20);
    entry.size = U32(b, at + 24);
    if (offset % rsrc::kDataAlignment != 0 || std::uint64_t{offset} + entry.size > size) return nullptr;
    entry.data = b.data() + offset;
    table->entries.push_back(std::move(entry));
  }
  return table;
}

bool MakeResourceKey(LPCSTR value, ResourceKey& key) {
  key = ResourceKey{};
  if (value == nullptr) return false;
  if (IS_INTRESOURCE(value)) {
    key.id = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(value));
    return key.id != 0;
  }
  if (value[0] == '#') {
    std::uint32_t id = 0;
    const char* p = value + 1;
    if (*p == '\0') return false;
    for (; *p != '\0'; ++p) {
      if (*p < '0' || *p > '9') return false;
      id = id * 10 + static_cast<std::uint32_t>(*p - '0');
      if (id > 0xFFFF) return false;
    }
    key.id = id;
    return id != 0;
  }
  key.name = AsciiUpper(value);
  return !key.name.empty();
}

}  // namespace qb::platform
