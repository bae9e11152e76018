// The registrar object and its class object, reachable through CoCreateInstance without any
// registry entry.
#include "ole32/com_runtime.h"
#include "registrar_script.h"
#include "registrar_source.h"
#include "common/boundary.h"

#include <atliface.h>

#include <atomic>
#include <new>

namespace qb::platform::registrar {
namespace {

class Registrar final : public IRegistrar {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IRegistrarBase || riid == IID_IRegistrar) {
      *object = static_cast<IRegistrar*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE AddReplacement(LPCOLESTR key, LPCOLESTR item) override {
    if (key == nullptr || item == nullptr) return E_INVALIDARG;
    return quillbox::HresultBoundary([&] {
      replacements_.emplace_back(key, item);
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE ClearReplacements() override {
    replacements_.clear();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ResourceRegisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) override {
    return Run(ScriptFromResource(file, id, type), true);
  }
  HRESULT STDMETHODCALLTYPE ResourceUnregisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) override {
    return Run(ScriptFromResource(file, id, type), false);
  }
  HRESULT STDMETHODCALLTYPE FileRegister(LPCOLESTR file) override { return Run(ScriptFromFile(file), true); }
  HRESULT STDMETHODCALLTYPE FileUnregister(LPCOLESTR file) override { return Run(ScriptFromFile(file), false); }
  HRESULT STDMETHODCALLTYPE StringRegister(LPCOLESTR data) override { return Run(ScriptFromString(data), true); }
  HRESULT STDMETHODCALLTYPE StringUnregister(LPCOLESTR data) override { return Run(ScriptFromString(data), false); }
  HRESULT STDMETHODCALLTYPE ResourceRegister(LPCOLESTR file, UINT id, LPCOLESTR type) override {
    return Run(ScriptFromResource(file, id, type), true);
  }
  HRESULT STDMETHODCALLTYPE ResourceUnregister(LPCOLESTR file, UINT id, LPCOLESTR type) override {
    return Run(ScriptFromResource(file, id, type), false);
  }

 private:
  HRESULT Run(const ScriptText& script, bool registering) {
    if (FAILED(script.status)) return script.status;
    return quillbox::HresultBoundary([&]() -> HRESULT {
      std::u16string expanded;
      if (HRESULT result = ExpandReplacements(script.text, replacements_, expanded); FAILED(result)) return result;
      std::vector<ScriptRoot> roots;
      if (HRESULT result = ParseScript(expanded, roots); FAILED(result)) return result;
      return registering ? RegisterScript(roots) : UnregisterScript(roots);
    });
  }

  std::atomic<ULONG> references_{1};
  Replacements replacements_;
};

// One static class object; it does not count references since it never goes away.
class RegistrarClassObject final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* registrar = new (std::nothrow) Registrar;
    if (registrar == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = registrar->QueryInterface(riid, object);
    registrar->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace
}  // namespace qb::platform::registrar

namespace qb::platform::com {

IClassFactory* BuiltInClassObject(REFCLSID clsid) {
  static registrar::RegistrarClassObject registrarClass;
  if (clsid == CLSID_Registrar) return &registrarClass;
  return nullptr;
}

}  // namespace qb::platform::com
