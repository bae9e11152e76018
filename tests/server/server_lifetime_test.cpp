// The module's exports, class object, lock count, aggregation and registration entries.
#include "com_fixture.h"
#include "support/registry_helpers.h"

namespace quillbox::test {
namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT (*)();

class ServerLifetime : public RegisteredModule {
 protected:
  void SetUp() override {
    RegisteredModule::SetUp();
    getClassObject_ = Export<GetClassObjectFn>("DllGetClassObject");
    canUnload_ = Export<CanUnloadFn>("DllCanUnloadNow");
  }
  IClassFactory* Factory() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(getClassObject_(kClsidSignature, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    return factory;
  }
  GetClassObjectFn getClassObject_ = nullptr;
  CanUnloadFn canUnload_ = nullptr;
};

// An outer object that aggregates a Signature.
class Outer final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;
  IUnknown* inner = nullptr;
};

TEST_F(ServerLifetime, LockCountFollowsLiveObjects) {
  EXPECT_EQ(canUnload_(), S_OK);
  IDispatch* object = Create();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(canUnload_(), S_FALSE);
  object->Release();
  EXPECT_EQ(canUnload_(), S_OK);
}

TEST_F(ServerLifetime, ClassObjectIsCachedAndHoldsOneLock) {
  IClassFactory* first = Factory();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(canUnload_(), S_FALSE);
  IClassFactory* second = Factory();
  EXPECT_EQ(first, second);
  second->Release();
  EXPECT_EQ(canUnload_(), S_FALSE);
  first->Release();
  EXPECT_EQ(canUnload_(), S_OK);
}

TEST_F(ServerLifetime, LockServerCounts) {
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(canUnload_(), S_FALSE);
  factory = Factory();
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
  EXPECT_EQ(canUnload_(), S_OK);
}

TEST_F(ServerLifetime, ClassObjectRequestsThatFail) {
  void* out = reinterpret_cast<void*>(1);
  const CLSID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  EXPECT_EQ(getClassObject_(other, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(getClassObject_(kClsidSignature, IID_IClassFactory, nullptr), E_POINTER);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject_(kClsidSignature, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(canUnload_(), S_OK);
}

TEST_F(ServerLifetime, CreateInstanceRules) {
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  Outer outer;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  const IID persistStream = {0x00000109, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  EXPECT_EQ(factory->CreateInstance(nullptr, persistStream, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
  factory->Release();
  EXPECT_EQ(canUnload_(), S_OK);  // the refused instance left no lock behind
}

TEST_F(ServerLifetime, AggregatedObjectDelegatesIdentityToTheOuter) {
  Outer outer;
  ASSERT_EQ(CoCreateInstance(kClsidSignature, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&outer.inner)),
            S_OK);
  EXPECT_EQ(canUnload_(), S_FALSE);
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  const ULONG before = outer.references;
  dispatch->AddRef();  // the inner object's references are the outer's
  EXPECT_EQ(outer.references, before + 1);
  dispatch->Release();
  IUnknown* identity = nullptr;
  ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  identity->Release();
  Script script(dispatch);
  script.PutText(u"UserName", u"inner");
  EXPECT_EQ(script.Text(u"UserName"), u"inner");
  dispatch->Release();
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(canUnload_(), S_OK);
}

TEST_F(ServerLifetime, RegistrationWritesTheClassEntries) {
  const std::u16string classKey = u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}";
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CLSID", nullptr),
            u"{2A426405-E493-4525-835C-A7B2DEFE8CC8}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature.1\\CLSID", nullptr),
            u"{2A426405-E493-4525-835C-A7B2DEFE8CC8}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CurVer", nullptr), u"Quillbox.Signature.1");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature", nullptr), u"Karvona Signature SDK");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", u"ThreadingModel"), u"Apartment");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", nullptr),
            std::u16string(kModulePath.begin(), kModulePath.end()));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey + u"\\Programmable"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\TypeLib", nullptr),
            u"{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\ProgID", nullptr), u"Quillbox.Signature.1");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\VersionIndependentProgID", nullptr), u"Quillbox.Signature");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"TypeLib\\{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}\\1.0"));
}

TEST_F(ServerLifetime, ReRegistrationRemovesStaleSubkeys) {
  const std::u16string stale = u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}\\Stale";
  ASSERT_EQ(CreateKey(HKEY_CLASSES_ROOT, stale), ERROR_SUCCESS);
  ASSERT_EQ(Export<HRESULT (*)()>("DllRegisterServer")(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, stale));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}\\Programmable"));
}

TEST_F(ServerLifetime, UnregistrationRemovesExactlyWhatRegistrationWrote) {
  auto unregister = Export<HRESULT (*)()>("DllUnregisterServer");
  EXPECT_EQ(unregister(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Quillbox.Signature"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Quillbox.Signature.1"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"TypeLib\\{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID"));
  EXPECT_EQ(unregister(), S_OK);  // also when nothing is registered
}

}  // namespace
}  // namespace quillbox::test
