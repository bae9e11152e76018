// The module's class-object exports.
#include "server/class_factory.h"
#include "server/server_module.h"

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
    // Test, lock, test again: a second thread finding the class object cached never locks.
    if (row.cachedClassObject == nullptr) {
      EnterCriticalSection(&ServerModule.classTableLock);
      if (row.cachedClassObject == nullptr) hr = row.createClassObject(&row.cachedClassObject);
      LeaveCriticalSection(&ServerModule.classTableLock);
    }
    if (row.cachedClassObject != nullptr) hr = row.cachedClassObject->QueryInterface(riid, ppv);
    break;
  }
  if (*ppv == nullptr && hr == S_OK) hr = CLASS_E_CLASSNOTAVAILABLE;
  return hr;
}

STDAPI DllCanUnloadNow() { return ServerModule.lockCount == 0 ? S_OK : S_FALSE; }
