// Registration from a real module: the registry script stored in its resources, and its type
// library registered, found and loaded through the registry.
#include "support/registry_helpers.h"
#include "support/temp_registry.h"

#include <atliface.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

namespace quillbox::test {
namespace {

const std::u16string kModule = [] {
  const std::string path = std::string(QUILLBOX_FAKE_DIR) + "/quillboxres.so";
  return std::u16string(path.begin(), path.end());
}();
const std::u16string kTypeLibFile = [] {
  const std::string path = QUILLBOX_TLB;
  return std::u16string(path.begin(), path.end());
}();
constexpr GUID kLibId = {0x55C3208D, 0x3C4C, 0x4F72, {0xB6, 0xBD, 0xF0, 0x13, 0xDB, 0x1D, 0x17, 0xF1}};
constexpr char16_t kClassKey[] = u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}";
constexpr char16_t kInterfaceKey[] = u"Interface\\{7C36739C-D779-431A-9FCD-3E21DCE0CDB5}";

class ModuleRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                               reinterpret_cast<void**>(&registrar_)),
              S_OK);
    ASSERT_EQ(registrar_->AddReplacement(u"Module", kModule.c_str()), S_OK);
  }
  void TearDown() override {
    if (registrar_ != nullptr) registrar_->Release();
    CoUninitialize();
  }

  TempRegistry registry_;
  IRegistrar* registrar_ = nullptr;
};

TEST_F(ModuleRegistration, TheScriptResourceRegistersAndUnregistersTheClass) {
  ASSERT_EQ(registrar_->ResourceRegister(kModule.c_str(), 101, u"REGISTRY"), S_OK);
  const std::u16string classKey = kClassKey;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32"), kModule);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", u"ThreadingModel"), u"Apartment");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey + u"\\Programmable"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CurVer"), u"Quillbox.Signature.1");

  ASSERT_EQ(registrar_->ResourceUnregisterSz(kModule.c_str(), u"#101", u"registry"), S_OK);
  EXPECT_EQ(SubTree(HKEY_CLASSES_ROOT, u""), std::vector<std::u16string>{u"CLSID"});
}

TEST_F(ModuleRegistration, MissingResourcesAndModulesAreReported) {
  EXPECT_EQ(registrar_->ResourceRegister(kModule.c_str(), 102, u"REGISTRY"),
            HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(registrar_->ResourceRegister(kModule.c_str(), 101, u"NOSUCHTYPE"),
            HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_TRUE(FAILED(registrar_->ResourceRegister((kModule + u".missing").c_str(), 101, u"REGISTRY")));
  EXPECT_EQ(registrar_->ResourceRegister(kModule.c_str(), 0, u"REGISTRY"), E_INVALIDARG);
  EXPECT_EQ(registrar_->ResourceRegisterSz(kModule.c_str(), nullptr, u"REGISTRY"), E_INVALIDARG);
  EXPECT_TRUE(SubTree(HKEY_CLASSES_ROOT, u"").empty());
}

TEST_F(ModuleRegistration, TheTypeLibraryRegistersLoadsThroughTheRegistryAndUnregisters) {
  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadTypeLib(kModule.c_str(), &library), S_OK);  // the module's TYPELIB resource
  ASSERT_EQ(RegisterTypeLib(library, kModule.c_str(), u"/help/"), S_OK);
  library->Release();

  const std::u16string libKey = u"TypeLib\\{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}\\1.0";
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, libKey), u"Quillbox 1.0 Type Library");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, libKey + u"\\0\\win32"), kModule);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, libKey + u"\\FLAGS"), u"0");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, libKey + u"\\HELPDIR"), u"/help/");
  const std::u16string iface = kInterfaceKey;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, iface), u"ISignature");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, iface + u"\\ProxyStubClsid32"), u"{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, iface + u"\\TypeLib", u"Version"), u"1.0");

  ITypeLib* loaded = nullptr;
  ASSERT_EQ(LoadRegTypeLib(kLibId, 1, 0, 0x409, &loaded), S_OK);
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(loaded->GetLibAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->guid, kLibId);
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  loaded->ReleaseTLibAttr(attributes);
  loaded->Release();

  ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0, SYS_WIN32), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, iface));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"TypeLib\\{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}"));
  loaded = reinterpret_cast<ITypeLib*>(0x1);
  EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 0, 0, &loaded), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(loaded, nullptr);
}

TEST_F(ModuleRegistration, ARegisteredTlbFileLoadsByItsPath) {
  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadTypeLib(kTypeLibFile.c_str(), &library), S_OK);
  ASSERT_EQ(RegisterTypeLib(library, kTypeLibFile.c_str(), nullptr), S_OK);
  library->Release();
  BSTR path = nullptr;
  ASSERT_EQ(QueryPathOfRegTypeLib(kLibId, 1, 0, 0, &path), S_OK);
  EXPECT_EQ(std::u16string(path, SysStringLen(path)), kTypeLibFile);
  SysFreeString(path);
  ASSERT_EQ(LoadRegTypeLib(kLibId, 1, 0, 0, &library), S_OK);
  library->Release();
  // A registered file that has gone away fails to load with the loader's own code.
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"TypeLib\\{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}\\1.0\\0\\win32", nullptr,
                        u"/nonexistent/quillbox.tlb"),
            ERROR_SUCCESS);
  library = nullptr;
  EXPECT_TRUE(FAILED(LoadRegTypeLib(kLibId, 1, 0, 0, &library)));
  EXPECT_EQ(library, nullptr);
}

}  // namespace
}  // namespace quillbox::test
