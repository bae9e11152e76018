// Module resources (FindResource*, LoadResource, LockResource, SizeofResource, LoadString) and
// LoadLibraryExA, whose data-file mode opens a module for its resources without running it.
//
// A module's resources live in its ELF section ".qbrsrc" (see formats/resource_format.h).
// They are read from the module's file, once per file version, and kept for the rest of the
// process, so a resource pointer stays valid as on Windows while the module stays loaded, and
// longer.
#include "elf_file.h"
#include "modules.h"
#include "resource_table.h"

#include <resource_format.h>

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace qb::platform {
namespace {

struct Registry {
  std::mutex lock;
  // Tables by file identity (path, device, inode, size, modification time).
  std::map<std::string, std::unique_ptr<ResourceTable>> tables;
  // Modules opened as data files: every record ever made (a stale handle must never dangle), the
  // open one per path, and the table read when each was opened.
  std::vector<std::unique_ptr<HINSTANCE__>> dataFileRecords;
  std::map<std::string, HMODULE> openDataFiles;
  std::map<HMODULE, const ResourceTable*> dataFileTables;
};

Registry& TheRegistry() {
  static auto* registry = new Registry;  // never destroyed: resource pointers outlive static teardown
  return *registry;
}

std::string Identity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return path + '\n' + std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) +
         ':' + std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

// The table of the file at `path`; null with the error in `error`. Callers hold the lock.
const ResourceTable* TableOfFile(Registry& registry, const std::string& path, DWORD& error) {
  const std::string identity = Identity(path);
  if (identity.empty()) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  if (auto it = registry.tables.find(identity); it != registry.tables.end()) return it->second.get();
  std::vector<std::uint8_t> section;
  error = ReadElfSection(path, rsrc::kSectionName, section);
  if (error != ERROR_SUCCESS) return nullptr;
  std::unique_ptr<ResourceTable> table = ParseResourceTable(std::move(section));
  if (table == nullptr) {
    error = ERROR_BAD_EXE_FORMAT;
    return nullptr;
  }
  return (registry.tables[identity] = std::move(table)).get();
}

const ResourceTable* TableOfModule(HMODULE module, DWORD& error) {
  if (module == nullptr) module = GetModuleHandleA(nullptr);
  if (module == nullptr) {
    error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  if (auto it = registry.dataFileTables.find(module); it != registry.dataFileTables.end()) {
    error = it->second != nullptr ? ERROR_SUCCESS : ERROR_RESOURCE_DATA_NOT_FOUND;
    return it->second;
  }
  return TableOfFile(registry, module->path, error);
}

bool Matches(std::uint32_t id, const std::string& name, const ResourceKey& key) {
  return key.name.empty() ? (name.empty() && id == key.id) : name == key.name;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

HMODULE OpenDataFile(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr || !IsFile(resolved)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  DWORD error = ERROR_SUCCESS;
  const ResourceTable* table = TableOfFile(registry, resolved, error);
  // A file that is no ELF image is refused, as Windows refuses a file that is no PE image; one
  // without resources opens, and its lookups fail.
  if (table == nullptr && error != ERROR_RESOURCE_DATA_NOT_FOUND) {
    SetLastError(error == ERROR_FILE_NOT_FOUND ? ERROR_MOD_NOT_FOUND : ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  HMODULE& record = registry.openDataFiles[resolved];
  if (record == nullptr || record->loads <= 0) {
    registry.dataFileRecords.push_back(std::make_unique<HINSTANCE__>());
    record = registry.dataFileRecords.back().get();
    record->path = resolved;
    registry.dataFileTables[record] = table;
  }
  ++record->loads;
  return record;
}

}  // namespace
}  // namespace qb::platform

using namespace qb::platform;

extern "C" {

// Not inlined, as LoadLibraryA: the search starts beside the module this function returns to.
__attribute__((noinline)) HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  const void* caller = __builtin_extract_return_addr(__builtin_return_address(0));
  if (name == nullptr || *name == '\0' || file != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool dataFile = (flags & (LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE |
                                  LOAD_LIBRARY_AS_IMAGE_RESOURCE)) != 0;
  const LibraryLocation found = FindLibrary(name, caller);
  if (!dataFile) return LoadFoundLibrary(found);
  if (found.kind != LibraryLocation::Kind::Path) {
    // The platform's system libraries carry no resources of their own to open.
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return OpenDataFile(found.path);
}

HRSRC WINAPI FindResourceExA(HMODULE module, LPCSTR type, LPCSTR name, WORD language) {
  ResourceKey typeKey, nameKey;
  if (!MakeResourceKey(type, typeKey)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  if (!MakeResourceKey(name, nameKey)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  DWORD error = ERROR_SUCCESS;
  const ResourceTable* table = TableOfModule(module, error);
  if (table == nullptr) {
    SetLastError(error);
    return nullptr;
  }
  std::vector<const HRSRC__*> candidates;
  bool typeSeen = false;
  for (const HRSRC__& entry : table->entries) {
    if (!Matches(entry.typeId, entry.typeName, typeKey)) continue;
    typeSeen = true;
    if (Matches(entry.nameId, entry.nameName, nameKey)) candidates.push_back(&entry);
  }
  if (candidates.empty()) {
    SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  // A neutral request takes the neutral resource, then US English, then whatever language there
  // is; a specific one takes that language, then its primary language's neutral form.
  const WORD primaryNeutral = static_cast<WORD>(language & 0x3FF);
  const std::vector<WORD> order = language == 0 ? std::vector<WORD>{0, 0x0409} : std::vector<WORD>{language, primaryNeutral};
  for (WORD wanted : order)
    for (const HRSRC__* entry : candidates)
      if (entry->language == wanted) return const_cast<HRSRC>(entry);
  if (language == 0) return const_cast<HRSRC>(candidates.front());
  SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
  return nullptr;
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) { return FindResourceExA(module, type, name, 0); }

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<std::uint8_t*>(resource->data);
}

LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return resource->size;
}

int WINAPI LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size) {
  if (buffer == nullptr || size < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Strings live in blocks of sixteen: block (id / 16) + 1 holds the string at index id % 16, each
  // string a 16-bit length followed by that many UTF-16 units.
  HRSRC block = FindResourceExA(module, RT_STRING, MAKEINTRESOURCEA((id >> 4) + 1), 0);
  if (block == nullptr) return 0;
  const std::uint8_t* p = block->data;
  const std::uint8_t* end = p + block->size;
  for (UINT index = 0;; ++index) {
    if (end - p < 2) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return 0;
    }
    const std::size_t length = static_cast<std::size_t>(p[0] | (p[1] << 8));
    p += 2;
    if (static_cast<std::size_t>(end - p) < length * 2) {
      SetLastError(ERROR_BAD_EXE_FORMAT);
      return 0;
    }
    if (index == (id & 15)) {
      if (length == 0) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
      }
      if (size == 0) {  // the caller asks for a read-only pointer to the text itself
        *reinterpret_cast<const std::uint8_t**>(buffer) = p;
        return static_cast<int>(length);
      }
      const std::size_t copied = std::min<std::size_t>(length, static_cast<std::size_t>(size - 1));
      std::memcpy(buffer, p, copied * sizeof(WCHAR));
      buffer[copied] = 0;
      return static_cast<int>(copied);
    }
    p += length * 2;
  }
}

int WINAPI LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const WCHAR* text = nullptr;
  const int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length == 0) {
    buffer[0] = '\0';
    return 0;
  }
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, buffer, size - 1, nullptr, nullptr);
  buffer[bytes > 0 ? bytes : 0] = '\0';
  return bytes > 0 ? bytes : 0;
}

}  // extern "C"
