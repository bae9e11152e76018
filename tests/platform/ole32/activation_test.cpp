// Activation of an in-process server through the registry, with a fake server module.
#include "platform/ole32/fake_server.h"
#include "support/registry_helpers.h"
#include "support/temp_registry.h"

#include <atliface.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <thread>

namespace quillbox::test {
namespace {

const std::string kFakeServerPath = std::string(QUILLBOX_FAKE_DIR) + "/fakeserver.so";

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string ClassKey(REFCLSID clsid) {
  char16_t text[39];
  StringFromGUID2(clsid, text, 39);
  return std::u16string(u"CLSID\\") + text;
}

// Whether the shared object is mapped in this process right now.
bool IsLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

template <typename T>
class Ref {
 public:
  ~Ref() { reset(); }
  void reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  void** out() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

class Activation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    Register(kFakeServerClsid, kFakeServerPath);
    Register(kUnservedClsid, kFakeServerPath);
    ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, ClassKey(kFakeServerClsid) + u"\\ProgID", nullptr, u"Quillbox.Fake.1"),
              ERROR_SUCCESS);
    char16_t clsid[39];
    StringFromGUID2(kFakeServerClsid, clsid, 39);
    ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"Quillbox.Fake.1\\CLSID", nullptr, clsid), ERROR_SUCCESS);
    ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"Quillbox.Fake\\CurVer", nullptr, u"Quillbox.Fake.1"), ERROR_SUCCESS);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  static void Register(REFCLSID clsid, const std::string& path) {
    ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, ClassKey(clsid) + u"\\InprocServer32", nullptr, Wide(path)),
              ERROR_SUCCESS);
  }

  TempRegistry registry_;
};

TEST_F(Activation, CreatesAnObjectByClassIdentifier) {
  Ref<IFake> fake;
  ASSERT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, kFakeIid, fake.out()), S_OK);
  EXPECT_EQ(fake->Answer(), 42);
  EXPECT_EQ(fake->LiveObjects(), 1);
}

TEST_F(Activation, CreatesAnObjectByProgrammaticIdentifierThroughCurVer) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Quillbox.Fake", &clsid), S_OK);  // no CLSID of its own: CurVer leads on
  EXPECT_EQ(clsid, kFakeServerClsid);
  ASSERT_EQ(CLSIDFromString(u"quillbox.fake.1", &clsid), S_OK);
  EXPECT_EQ(clsid, kFakeServerClsid);
  Ref<IFake> fake;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, kFakeIid, fake.out()), S_OK);
  EXPECT_EQ(fake->Answer(), 42);

  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kFakeServerClsid, &progId), S_OK);
  EXPECT_EQ(std::u16string(progId), u"Quillbox.Fake.1");
  CoTaskMemFree(progId);
}

TEST_F(Activation, AProgIdsOwnClsidComesBeforeCurVer) {
  char16_t other[39];
  StringFromGUID2(kUnservedClsid, other, 39);
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"Quillbox.Fake\\CLSID", nullptr, other), ERROR_SUCCESS);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Quillbox.Fake", &clsid), S_OK);
  EXPECT_EQ(clsid, kUnservedClsid);
}

TEST_F(Activation, UnknownAndMalformedIdentifiersAreRefused) {
  CLSID clsid = kFakeServerClsid;
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.Thing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, CLSID_NULL);
  EXPECT_EQ(CLSIDFromString(u"{6F1E5A10-8C2B-4D7E-9A31-0B7C4E2D9F0}", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(u"CLSID\\Whatever", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(u"{6f1e5a10-8c2b-4d7e-9a31-0b7c4e2d9f01}", &clsid), S_OK);
  EXPECT_EQ(clsid, kFakeServerClsid);
  EXPECT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_NULL);

  // A CurVer cycle ends instead of looping.
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"Loop.A\\CurVer", nullptr, u"Loop.B"), ERROR_SUCCESS);
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"Loop.B\\CurVer", nullptr, u"Loop.A"), ERROR_SUCCESS);
  EXPECT_EQ(CLSIDFromProgID(u"Loop.A", &clsid), CO_E_CLASSSTRING);

  LPOLESTR progId = nullptr;
  EXPECT_EQ(ProgIDFromCLSID(kUnservedClsid, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);
}

TEST_F(Activation, AnUnregisteredClassIsNotRegistered) {
  const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  // Only in-process servers exist, so asking for a local server finds nothing.
  EXPECT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
}

TEST_F(Activation, ServerLoadFailuresHaveTheirOwnCodes) {
  const CLSID missing = {0xAAAAAAAA, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  Register(missing, std::string(QUILLBOX_FAKE_DIR) + "/does-not-exist.so");
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(missing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), CO_E_DLLNOTFOUND);

  const CLSID noExports = {0xBBBBBBBB, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  Register(noExports, std::string(QUILLBOX_FAKE_DIR) + "/noexports.so");
  EXPECT_EQ(CoCreateInstance(noExports, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), CO_E_ERRORINDLL);

  // The server's own refusal comes through unchanged.
  EXPECT_EQ(CoCreateInstance(kUnservedClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(Activation, AnExpandableServerPathUsesTheEnvironment) {
  setenv("QUILLBOX_TEST_FAKES", QUILLBOX_FAKE_DIR, 1);
  const std::u16string path = u"%QUILLBOX_TEST_FAKES%/fakeserver.so";
  Key key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, (ClassKey(kFakeServerClsid) + u"\\InprocServer32").c_str(), 0,
                          KEY_ALL_ACCESS, key.out()),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.get(), nullptr, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           static_cast<DWORD>((path.size() + 1) * 2)),
            ERROR_SUCCESS);
  Ref<IFake> fake;
  ASSERT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, kFakeIid, fake.out()), S_OK);
  EXPECT_EQ(fake->Answer(), 42);
}

TEST_F(Activation, ClassObjectsComeFromTheServer) {
  Ref<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(kFakeServerClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out()), S_OK);
  Ref<IFake> first;
  Ref<IFake> second;
  ASSERT_EQ(factory->CreateInstance(nullptr, kFakeIid, first.out()), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, kFakeIid, second.out()), S_OK);
  EXPECT_EQ(first->LiveObjects(), 2);
  EXPECT_EQ(CoGetClassObject(kFakeServerClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, nullptr),
            E_INVALIDARG);
}

TEST_F(Activation, UnusedServersUnloadOnceTheirLastObjectIsGone) {
  ASSERT_FALSE(IsLoaded(kFakeServerPath));
  Ref<IFake> fake;
  ASSERT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, kFakeIid, fake.out()), S_OK);
  EXPECT_TRUE(IsLoaded(kFakeServerPath));

  CoFreeUnusedLibraries();  // an object is alive: the server says no
  ASSERT_TRUE(IsLoaded(kFakeServerPath));
  EXPECT_EQ(fake->Answer(), 42);

  fake.reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded(kFakeServerPath));

  // A later request loads it again.
  ASSERT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, kFakeIid, fake.out()), S_OK);
  EXPECT_EQ(fake->LiveObjects(), 1);
  fake.reset();
}

TEST_F(Activation, AServerLockedThroughItsClassObjectStays) {
  Ref<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(kFakeServerClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out()), S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsLoaded(kFakeServerPath));
  ASSERT_EQ(CoGetClassObject(kFakeServerClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out()), S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  factory.reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded(kFakeServerPath));
}

TEST_F(Activation, TheRegistrarNeedsNoRegistryEntry) {
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(CLSID_Registrar)));
  Ref<IRegistrar> registrar;
  ASSERT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar, registrar.out()), S_OK);
  Ref<IUnknown> unknown;
  EXPECT_EQ(registrar->QueryInterface(IID_IUnknown, unknown.out()), S_OK);
  void* object = nullptr;
  EXPECT_EQ(registrar->QueryInterface(IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(CoCreateInstance(CLSID_Registrar, unknown.get(), CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            CLASS_E_NOAGGREGATION);
}

}  // namespace
}  // namespace quillbox::test
