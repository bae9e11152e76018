// The library entry point of a module. Windows calls a DLL's DllMain at process attach and
// detach; on Linux a shared object's constructor and destructor do, through this macro, with the
// module's own instance handle. A module writes DllMain as on Windows and adds, once:
//
//   QB_DLL_ENTRY_POINT(DllMain)
//
// Static destructors of a shared object run before its destructor functions on Linux (the
// reverse of Windows' CRT order), so state that detach uses must be trivially destructible.
#pragma once

#include "windef.h"

extern "C" QB_PLATFORM_API HMODULE QbModuleFromAddress(const void* address);

#define QB_DLL_ENTRY_POINT(entry)                                                         \
  namespace {                                                                             \
  __attribute__((constructor(65535))) void QbDllAttach() {                                \
    entry(QbModuleFromAddress(reinterpret_cast<const void*>(&QbDllAttach)), DLL_PROCESS_ATTACH, nullptr); \
  }                                                                                       \
  __attribute__((destructor(65535))) void QbDllDetach() {                                 \
    entry(QbModuleFromAddress(reinterpret_cast<const void*>(&QbDllDetach)), DLL_PROCESS_DETACH, nullptr); \
  }                                                                                       \
  }
