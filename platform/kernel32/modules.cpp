// LoadLibraryA, GetProcAddress, FreeLibrary and module paths over dlopen.
//
// Name rule (FindLibrary): a name with a '/' is a path and is loaded as given. Otherwise the name
// is lower-cased and a trailing ".dll" dropped; the system libraries the platform stands in for
// (kernel32, ole32, oleaut32, advapi32, crypt32, user32) resolve to the platform library itself;
// any other name N is the file "N.so", looked for in the directory of the module that calls, then
// in each directory of QUILLBOX_DLL_PATH (colon-separated).
#include "modules.h"

#include "shared/case_folding.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace qb::platform {
namespace {

struct ModuleTable {
  std::mutex lock;
  std::map<void*, HINSTANCE__*> byBase;
};

ModuleTable& Table() {
  static auto* table = new ModuleTable;  // never destroyed: modules unload during process exit
  return *table;
}

// Held across every load and unload, with the module's DllMain inside it, as Windows holds its
// loader lock: a module's attach on one thread and its detach on another are ordered by our own
// lock, not only by the C library's, which a race detector does not see. Recursive, since a
// DllMain may load another library.
std::recursive_mutex& LoaderLock() {
  static auto* lock = new std::recursive_mutex;  // never destroyed, as the table
  return *lock;
}

std::string RealPath(const char* path) {
  char resolved[PATH_MAX];
  if (path != nullptr && realpath(path, resolved) != nullptr) return resolved;
  return path != nullptr ? path : "";
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

HINSTANCE__* RecordFor(void* base, const std::string& path) {
  ModuleTable& table = Table();
  std::lock_guard guard(table.lock);
  auto& slot = table.byBase[base];
  if (slot == nullptr) {
    slot = new HINSTANCE__;
    slot->base = base;
    slot->path = path;
  } else if (slot->path != path) {
    // Only one file can be mapped at an address at a time: the module the record described was
    // unloaded and another one now lives where it did. Like Windows, whose module handle is the
    // base address, the handle now names the new module.
    slot->path = path;
  }
  return slot;
}

std::vector<std::string> SearchDirectories(const void* caller) {
  std::vector<std::string> dirs;
  Dl_info info{};
  if (caller != nullptr && dladdr(caller, &info) != 0 && info.dli_fname != nullptr)
    dirs.push_back(DirectoryOf(RealPath(info.dli_fname)));
  if (const char* extra = std::getenv("QUILLBOX_DLL_PATH"); extra != nullptr) {
    std::string list = extra;
    std::size_t start = 0;
    while (start <= list.size()) {
      const auto colon = list.find(':', start);
      const std::string dir = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      if (!dir.empty()) dirs.push_back(dir);
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  return dirs;
}

HMODULE Load(const std::string& path) {
  const std::lock_guard loading(LoaderLock());
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  link_map* map = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
    dlclose(library);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  HINSTANCE__* record = RecordFor(reinterpret_cast<void*>(map->l_addr), RealPath(path.c_str()));
  std::lock_guard guard(Table().lock);
  if (record->loads++ == 0) {
    record->library = library;
  } else {
    dlclose(library);  // the first load's handle already pins it
  }
  return record;
}

}  // namespace

HMODULE ModuleFromAddress(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return nullptr;
  return RecordFor(info.dli_fbase, RealPath(info.dli_fname));
}

HMODULE PlatformModule() {
  static HMODULE self = ModuleFromAddress(reinterpret_cast<const void*>(&LoadLibraryA));
  return self;
}

std::string SharedObjectNameFor(const std::string& windowsName) {
  std::string name = AsciiLower(windowsName);
  if (name.size() > 4 && name.ends_with(".dll")) name.resize(name.size() - 4);
  static const char* const systemLibraries[] = {"kernel32", "ole32", "oleaut32", "advapi32", "crypt32", "user32"};
  for (const char* system : systemLibraries)
    if (name == system) return "";
  return name + ".so";
}

LibraryLocation FindLibrary(const char* name, const void* caller) {
  if (std::strchr(name, '/') != nullptr) return {LibraryLocation::Kind::Path, name};
  const std::string file = SharedObjectNameFor(name);
  if (file.empty()) return {LibraryLocation::Kind::Platform, {}};
  for (const std::string& dir : SearchDirectories(caller)) {
    std::string candidate = dir + "/" + file;
    if (IsFile(candidate)) return {LibraryLocation::Kind::Path, std::move(candidate)};
  }
  return {};
}

HMODULE LoadFoundLibrary(const LibraryLocation& location) {
  switch (location.kind) {
    case LibraryLocation::Kind::Path:
      return Load(location.path);
    case LibraryLocation::Kind::Platform:
      return Load(PlatformModule()->path);
    case LibraryLocation::Kind::NotFound:
      break;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

}  // namespace qb::platform

using qb::platform::PlatformModule;

extern "C" {

HMODULE QbModuleFromAddress(const void* address) { return qb::platform::ModuleFromAddress(address); }

// Not inlined: the search starts beside the module that called, which is found from this
// function's return address; inlined into a caller inside the platform, the address would be that
// caller's caller.
__attribute__((noinline)) HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  if (name == nullptr || *name == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const void* caller = __builtin_extract_return_addr(__builtin_return_address(0));
  return qb::platform::LoadFoundLibrary(qb::platform::FindLibrary(name, caller));
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (module == nullptr || name == nullptr || IS_INTRESOURCE(name)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  // The record's library and path change under the table lock when another thread loads or frees
  // the module; the lookup holds it too, so the handle cannot be closed under dlsym.
  void* symbol = nullptr;
  {
    std::lock_guard guard(qb::platform::Table().lock);
    if (module->library != nullptr) {
      symbol = dlsym(module->library, name);
    } else if (void* library = dlopen(module->path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      // A module known by address (its own handle) but not loaded through LoadLibraryA.
      symbol = dlsym(library, name);
      dlclose(library);
    }
  }
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const std::lock_guard unloading(qb::platform::LoaderLock());
  void* library = nullptr;
  {
    std::lock_guard guard(qb::platform::Table().lock);
    if (module->loads <= 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--module->loads == 0) {
      library = module->library;
      module->library = nullptr;
    }
  }
  if (library != nullptr) dlclose(library);
  return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (name != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // The executable itself.
  void* program = dlopen(nullptr, RTLD_NOW);
  link_map* map = nullptr;
  if (program == nullptr || dlinfo(program, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return nullptr;
  return qb::platform::RecordFor(reinterpret_cast<void*>(map->l_addr), qb::platform::RealPath("/proc/self/exe"));
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  std::string path;
  if (module == nullptr) {
    path = qb::platform::RealPath("/proc/self/exe");
  } else {
    std::lock_guard guard(qb::platform::Table().lock);  // a module mapped anew renames its record
    path = module->path;
  }
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
  if (longPath == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  struct stat st {};
  if (stat(longPath, &st) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  // Linux has no 8.3 names: the short form of a path is the path itself.
  const std::size_t length = std::strlen(longPath);
  if (shortPath == nullptr || size <= length) return static_cast<DWORD>(length + 1);
  std::memmove(shortPath, longPath, length + 1);
  return static_cast<DWORD>(length);
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE module) {
  // Shared objects get no per-thread notifications on Linux, so there is nothing to switch off.
  return module != nullptr ? TRUE : FALSE;
}

}  // extern "C"
