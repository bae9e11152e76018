// The checked resource table of one module file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A found resource; HRSRC points at one of these, which lives as long as the process.
struct HRSRC__ {
  std::uint32_t typeId = 0;
  std::string typeName;  // upper case; empty for a numbered type
  std::uint32_t nameId = 0;
  std::string nameName;
  WORD language = 0;
  const std::uint8_t* data = nullptr;
  DWORD size = 0;
};

namespace qb::platform {

struct ResourceTable {
  std::vector<std::uint8_t> section;  // the bytes every entry's data points into
  std::vector<HRSRC__> entries;
};

// Parses and checks a resource section. Null for malformed data.
std::unique_ptr<ResourceTable> ParseResourceTable(std::vector<std::uint8_t> section);

// A resource type or name as FindResource takes it: a number (MAKEINTRESOURCE or "#123"), or a
// text compared without regard to case.
struct ResourceKey {
  std::uint32_t id = 0;
  std::string name;  // upper case; empty for a number
};
bool MakeResourceKey(LPCSTR value, ResourceKey& key);

}  // namespace qb::platform
