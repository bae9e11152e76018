// The class object of a class: one per process, cached in the class table. Its reference count
// is guarded by its own lock; while any client holds it the module stays locked.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace quillbox {

class ClassFactory final : public IClassFactory {
 public:
  using Creator = HRESULT (*)(IUnknown* outer, REFIID riid, void** object);
  explicit ClassFactory(Creator creator);
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  ~ClassFactory();
  LONG references_ = 0;
  CRITICAL_SECTION lock_;
  Creator creator_;
};

}  // namespace quillbox
