#include "server/signature_class.h"

#include "component/signature.h"
#include "server/class_factory.h"

#include <new>

namespace quillbox {
namespace {

// The inner object of an aggregate: its IUnknown members delegate to the outer object.
class ContainedSignature final : public Signature {
 public:
  explicit ContainedSignature(IUnknown* outer) : outer_(outer) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    HRESULT hr = outer_->QueryInterface(riid, object);
    if (FAILED(hr) && outer_ != static_cast<IUnknown*>(static_cast<ISignature*>(this)))
      hr = InternalQueryInterface(riid, object);
    return hr;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

 private:
  IUnknown* outer_;
};

// The aggregate's own, non-delegating IUnknown, which the outer object holds.
class SignatureAggregate final : public IUnknown {
 public:
  explicit SignatureAggregate(IUnknown* outer) : inner_(outer) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner_.InternalQueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG count = --references_;
    if (count == 0) {
      references_ = 1;
      delete this;
    }
    return static_cast<ULONG>(count);
  }

 private:
  LONG references_ = 0;
  ContainedSignature inner_;
};

}  // namespace

HRESULT CreateSignatureInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) {
    auto* aggregate = new (std::nothrow) SignatureAggregate(outer);
    if (aggregate == nullptr) return E_OUTOFMEMORY;
    return aggregate->QueryInterface(IID_IUnknown, object);
  }
  auto* created = new (std::nothrow) Signature;
  if (created == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = created->QueryInterface(riid, object);
  if (FAILED(hr)) delete created;  // nothing is left behind, and its lock goes with it
  return hr;
}

HRESULT CreateSignatureClassObject(IUnknown** classObject) {
  auto* factory = new (std::nothrow) ClassFactory(CreateSignatureInstance);
  if (factory == nullptr) return E_OUTOFMEMORY;
  factory->AddRef();  // the class table's reference
  *classObject = factory;
  return S_OK;
}

}  // namespace quillbox
