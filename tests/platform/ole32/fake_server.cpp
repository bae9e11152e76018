// A minimal in-process server: one class whose objects answer IFake, a class object, and the
// two activation exports. The lock count decides DllCanUnloadNow, as in a real server.
#include "fake_server.h"

#include <atomic>
#include <new>

namespace {

std::atomic<int> locks{0};
std::atomic<int> liveObjects{0};

class FakeObject final : public IFake {
 public:
  FakeObject() {
    ++locks;
    ++liveObjects;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == kFakeIid) {
      *object = static_cast<IFake*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      delete this;
      --liveObjects;
      --locks;
    }
    return left;
  }
  int STDMETHODCALLTYPE Answer() override { return 42; }
  int STDMETHODCALLTYPE LiveObjects() override { return liveObjects.load(); }

 private:
  std::atomic<ULONG> references_{1};
};

class FakeClassObject final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    ++locks;
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    --locks;
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* created = new (std::nothrow) FakeObject;
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = created->QueryInterface(riid, object);
    created->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++locks;
    } else {
      --locks;
    }
    return S_OK;
  }
};

FakeClassObject classObject;

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid,
                                                                            void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != kFakeServerClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return classObject.QueryInterface(riid, object);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return locks == 0 ? S_OK : S_FALSE; }
