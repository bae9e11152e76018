// The platform's table of loaded modules. An HMODULE points at one record, which lives for the
// rest of the process so a stale handle never dangles into freed memory.
#pragma once

#include <windows.h>

#include <string>

struct HINSTANCE__ {
  std::string path;       // absolute path of the shared object
  void* base = nullptr;   // load address, the module's identity
  void* library = nullptr;  // dlopen handle while LoadLibraryA references are held
  int loads = 0;          // outstanding LoadLibraryA calls
};

namespace qb::platform {

// The module that contains `address` (a function or object of that module), registering it on
// first sight. This is how a module learns its own instance handle at load time.
HMODULE ModuleFromAddress(const void* address);
// The platform library's own module.
HMODULE PlatformModule();
// Maps a Windows library name to the shared object file name, or "" for the platform itself.
std::string SharedObjectNameFor(const std::string& windowsName);

// Where a library name leads, found as Windows finds a DLL: a name with a '/' is a path, taken as
// given; a system library's name is the platform itself; any other name N is the file "N.so",
// looked for beside the module that asks (`caller`, an address inside it), then in each directory
// of QUILLBOX_DLL_PATH, which stands for the system's search path. The one search behind every
// way of loading a library, so that they all find the same file for the same name.
struct LibraryLocation {
  enum class Kind { Path, Platform, NotFound };
  Kind kind = Kind::NotFound;
  std::string path;  // for Kind::Path
};
LibraryLocation FindLibrary(const char* name, const void* caller);

// Loads (maps and runs) what FindLibrary found, counting a reference; null with the last error set.
HMODULE LoadFoundLibrary(const LibraryLocation& location);

}  // namespace qb::platform

// Exported so a component module can name its own handle without knowing the platform's internals.
extern "C" QB_PLATFORM_API HMODULE QbModuleFromAddress(const void* address);
