// The module's process-wide state: instance handle, type library identifier, the class table,
// the lock count that decides unloading, two locks and the termination list.
//
// Everything here is trivially destructible: on Linux a shared object's static destructors run
// before its detach handling, which still uses this state.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "component/module_host.h"

namespace quillbox {

struct TermEntry {
  TermFunc function;
  DWORD_PTR argument;
  TermEntry* next;
};

struct ClassRow {
  const CLSID* clsid;
  HRESULT (*updateRegistry)(BOOL doRegister);
  HRESULT (*createClassObject)(IUnknown** classObject);
  HRESULT (*createInstance)(IUnknown* outer, REFIID riid, void** object);
  IUnknown* cachedClassObject;
};

struct ServerModuleState {
  HINSTANCE instance;
  GUID typeLibId;
  LONG lockCount;
  CRITICAL_SECTION typeInfoLock;
  CRITICAL_SECTION classTableLock;
  TermEntry* termList;
  ClassRow classTable[1];
};

extern ServerModuleState ServerModule;

LONG LockModule();
LONG UnlockModule();
// Puts a clean-up at the head of the termination list; nothing is added if memory runs out.
void AddTermFunc(TermFunc function, DWORD_PTR argument);

// The library entry point's work, at process attach and detach.
void AttachModule(HINSTANCE instance);
void DetachModule();

}  // namespace quillbox
