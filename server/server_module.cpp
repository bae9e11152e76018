#include "server/server_module.h"

#include "server/protected_mode.h"

#include <new>

namespace quillbox {

ServerModuleState ServerModule{};

namespace {

// The module's side of what the component needs of it. Stateless, so trivially destructible like
// everything else here.
struct ServerModuleHost final : ModuleHost {
  LONG Lock() override { return LockModule(); }
  LONG Unlock() override { return UnlockModule(); }
  void AddTermFunc(TermFunc function, DWORD_PTR argument) override { quillbox::AddTermFunc(function, argument); }
  CRITICAL_SECTION* TypeInfoLock() override { return &ServerModule.typeInfoLock; }
  bool IsProtectedMode() override { return quillbox::IsProtectedMode(); }
};

constinit ServerModuleHost host;

// Connected as soon as the server's code is loaded, so programs that link the component's code
// and make objects without loading the module have the same host as the module.
[[maybe_unused]] const bool connectedAtLoad = (ConnectModuleHost(host), true);

}  // namespace

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
  ConnectModuleHost(host);
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
