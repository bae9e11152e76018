#include "server/class_factory.h"

#include "server/server_module.h"

namespace quillbox {

ClassFactory::ClassFactory(Creator creator) : creator_(creator) { InitializeCriticalSection(&lock_); }

ClassFactory::~ClassFactory() { DeleteCriticalSection(&lock_); }

HRESULT ClassFactory::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// The class table's cached pointer holds the first reference; the first further one locks the
// module and the release back to the table's alone unlocks it.
ULONG ClassFactory::AddRef() {
  EnterCriticalSection(&lock_);
  const LONG count = InterlockedIncrement(&references_);
  if (count == 2) LockModule();
  LeaveCriticalSection(&lock_);
  return static_cast<ULONG>(count);
}

ULONG ClassFactory::Release() {
  EnterCriticalSection(&lock_);
  const LONG count = InterlockedDecrement(&references_);
  if (count == 1) UnlockModule();
  LeaveCriticalSection(&lock_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return creator_(outer, riid, object);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    LockModule();
  } else {
    UnlockModule();
  }
  return S_OK;
}

}  // namespace quillbox
