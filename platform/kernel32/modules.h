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

}  // namespace qb::platform

// Exported so a component module can name its own handle without knowing the platform's internals.
extern "C" QB_PLATFORM_API HMODULE QbModuleFromAddress(const void* address);
