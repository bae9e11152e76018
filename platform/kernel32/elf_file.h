// Reading one section of an ELF file without loading it: how a module's resources are found,
// whether the module is loaded or only opened as a data file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qb::platform {

// ERROR_SUCCESS with the section's bytes; ERROR_FILE_NOT_FOUND when the file cannot be opened;
// ERROR_BAD_EXE_FORMAT for anything that is not a well-formed 64-bit little-endian ELF file;
// ERROR_RESOURCE_DATA_NOT_FOUND when the file has no such section.
DWORD ReadElfSection(const std::string& path, const char* sectionName, std::vector<std::uint8_t>& out);

}  // namespace qb::platform
