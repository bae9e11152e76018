// The module's class-object exports.
#include "common/boundary.h"
#include "server/class_factory.h"
#include "server/server_module.h"

#include <atomic>
#include <new>

using quillbox::ClassRow;
using quillbox::ServerModule;

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) __attribute__((visibility("default")));
STDAPI DllCanUnloadNow() __attribute__((visibility("default")));

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  HRESULT hr = S_OK;
  for (ClassRow& row : ServerModule.classTable) {
    if (row.clsid == nullptr || !IsEqualCLSID(*row.clsid, rclsid)) continue;
    // Test, lock, test again: a second thread finding the class object cached never locks. The
    // object is published with release order, so a thread that sees the pointer sees it built.
    std::atomic_ref<IUnknown*> cached(row.cachedClassObject);
    IUnknown* classObject = cached.load(std::memory_order_acquire);
    if (classObject == nullptr) {
      EnterCriticalSection(&ServerModule.classTableLock);
      classObject = cached.load(std::memory_order_relaxed);
      if (classObject == nullptr) {
        hr = quillbox::HresultBoundary([&] { return row.createClassObject(&classObject); });
        if (classObject != nullptr) cached.store(classObject, std::memory_order_release);
      }
      LeaveCriticalSection(&ServerModule.classTableLock);
    }
    if (classObject != nullptr) hr = classObject->QueryInterface(riid, ppv);
    break;
  }
  if (*ppv == nullptr && hr == S_OK) hr = CLASS_E_CLASSNOTAVAILABLE;
  return hr;
}

// The count changes by interlocked operations on other threads; it is read atomically too.
STDAPI DllCanUnloadNow() {
  return std::atomic_ref<LONG>(ServerModule.lockCount).load(std::memory_order_acquire) == 0 ? S_OK : S_FALSE;
}
