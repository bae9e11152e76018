#include "server/server_module.h"

#include <new>

namespace quillbox {

ServerModuleState ServerModule{};

LONG LockModule() { return InterlockedIncrement(&ServerModule.lockCount); }
LONG UnlockModule() { return InterlockedDecrement(&ServerModule.lockCount); }

void AddTermFunc(TermFunc function, DWORD_PTR argument) {
  auto* entry = new (std::nothrow) TermEntry{function, argument, nullptr};
  if (entry == nullptr) return;
  EnterCriticalSection(&ServerModule.typeInfoLock);
  entry->next = ServerModule.termList;
  ServerModule.termList = entry;
  LeaveCriticalSection(&ServerModule.typeInfoLock);
}

void AttachModule(HINSTANCE instance) {
  ServerModule.instance = instance;
  ServerModule.lockCount = 0;
  ServerModule.termList = nullptr;
  for (ClassRow& row : ServerModule.classTable) row.cachedClassObject = nullptr;
  InitializeCriticalSection(&ServerModule.typeInfoLock);
  InitializeCriticalSection(&ServerModule.classTableLock);
  DisableThreadLibraryCalls(instance);
}

void DetachModule() {
  for (ClassRow& row : ServerModule.classTable) {
    if (row.cachedClassObject != nullptr) {
      row.cachedClassObject->Release();
      row.cachedClassObject = nullptr;
    }
  }
  DeleteCriticalSection(&ServerModule.typeInfoLock);
  DeleteCriticalSection(&ServerModule.classTableLock);
  // Newest first, each entry freed as it runs.
  while (TermEntry* entry = ServerModule.termList) {
    ServerModule.termList = entry->next;
    entry->function(entry->argument);
    delete entry;
  }
}

}  // namespace quillbox
