// Type-library registration: the entries RegisterTypeLib writes, lookup, and exact removal.
#include "support/fake_typelib.h"
#include "support/registry_helpers.h"
#include "support/temp_registry.h"

#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

namespace quillbox::test {
namespace {

constexpr GUID kLibId = {0x55C3208D, 0x3C4C, 0x4F72, {0xB6, 0xBD, 0xF0, 0x13, 0xDB, 0x1D, 0x17, 0xF1}};
constexpr GUID kDual = {0x7C36739C, 0xD779, 0x431A, {0x9F, 0xCD, 0x3E, 0x21, 0xDC, 0xE0, 0xCD, 0xB5}};
constexpr GUID kCoclass = {0x2A426405, 0xE493, 0x4525, {0x83, 0x5C, 0xA7, 0xB2, 0xDE, 0xFE, 0x8C, 0xC8}};
constexpr GUID kPlain = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr GUID kDispOnly = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x56}};
constexpr char16_t kLibKey[] = u"TypeLib\\{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}";
constexpr char16_t kDualKey[] = u"Interface\\{7C36739C-D779-431A-9FCD-3E21DCE0CDB5}";

FakeTypeLib MakeLibrary(WORD major = 1, WORD minor = 0, LCID lcid = 0) {
  TLIBATTR attributes{};
  attributes.guid = kLibId;
  attributes.lcid = lcid;
  attributes.syskind = SYS_WIN32;
  attributes.wMajorVerNum = major;
  attributes.wMinorVerNum = minor;
  attributes.wLibFlags = 0;
  return FakeTypeLib(attributes, u"QUILLBOXLib", u"Quillbox 1.0 Type Library",
                     {
                         {TKIND_COCLASS, kCoclass, TYPEFLAG_FCANCREATE, u"Signature"},
                         {TKIND_DISPATCH, kDual, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE,
                          u"ISignature"},
                         {TKIND_INTERFACE, kPlain, 0, u"IPlain"},
                         {TKIND_DISPATCH, kDispOnly, TYPEFLAG_FDISPATCHABLE, u"DEvents"},
                     });
}

// Every key and value under HKEY_CLASSES_ROOT, as text.
std::vector<std::u16string> Snapshot() {
  std::vector<std::u16string> lines;
  for (const std::u16string& path : SubTree(HKEY_CLASSES_ROOT, u"")) {
    lines.push_back(path);
    Key key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) continue;
    for (DWORD index = 0;; ++index) {
      char16_t name[256];
      DWORD units = 256;
      char16_t data[512] = {};
      DWORD size = sizeof data - 2;
      if (RegEnumValueW(key.get(), index, name, &units, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) !=
          ERROR_SUCCESS)
        break;
      lines.push_back(path + u" [" + std::u16string(name, units) + u"] = " + data);
    }
  }
  return lines;
}

class TypeLibRegistration : public ::testing::Test {
 protected:
  TempRegistry registry_;
};

TEST_F(TypeLibRegistration, WritesTheLibraryAndItsAutomationInterfaces) {
  FakeTypeLib library = MakeLibrary();
  ASSERT_EQ(RegisterTypeLib(&library, u"/opt/quillbox/libquillbox.so", u"/opt/quillbox/"), S_OK);
  const std::u16string lib = kLibKey;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, lib + u"\\1.0"), u"Quillbox 1.0 Type Library");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, lib + u"\\1.0\\0\\win32"), u"/opt/quillbox/libquillbox.so");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, lib + u"\\1.0\\FLAGS"), u"0");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, lib + u"\\1.0\\HELPDIR"), u"/opt/quillbox/");

  const std::u16string dual = kDualKey;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, dual), u"ISignature");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, dual + u"\\ProxyStubClsid32"), u"{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, dual + u"\\ProxyStubClsid"), u"{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, dual + u"\\TypeLib"), u"{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, dual + u"\\TypeLib", u"Version"), u"1.0");
  // A pure dispinterface goes through the dispatch marshaller; a plain vtable interface and the
  // coclass are not registered at all.
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Interface\\{11111111-2222-3333-4444-555555555556}\\ProxyStubClsid32"),
            u"{00020420-0000-0000-C000-000000000046}");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Interface\\{11111111-2222-3333-4444-555555555555}"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Interface\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID"));
}

TEST_F(TypeLibRegistration, VersionsAndLocalesAreHexadecimalAndANullHelpDirIsEmpty) {
  FakeTypeLib library = MakeLibrary(10, 11, 0x409);
  ASSERT_EQ(RegisterTypeLib(&library, u"/lib.tlb", nullptr), S_OK);
  const std::u16string lib = kLibKey;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, lib + u"\\a.b\\409\\win32"), u"/lib.tlb");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, lib + u"\\a.b\\HELPDIR"), u"");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::u16string(kDualKey) + u"\\TypeLib", u"Version"), u"a.b");
  EXPECT_EQ(RegisterTypeLib(nullptr, u"/lib.tlb", nullptr), E_INVALIDARG);
  EXPECT_EQ(RegisterTypeLib(&library, nullptr, nullptr), E_INVALIDARG);
}

TEST_F(TypeLibRegistration, QueryPathFindsCompatibleVersionsAndFallsBackToTheNeutralLocale) {
  FakeTypeLib library = MakeLibrary(1, 2);
  ASSERT_EQ(RegisterTypeLib(&library, u"/v12.so", nullptr), S_OK);
  BSTR path = nullptr;
  ASSERT_EQ(QueryPathOfRegTypeLib(kLibId, 1, 0, 0x409, &path), S_OK);  // 1.2 serves a 1.0 client
  EXPECT_EQ(std::u16string(path), u"/v12.so");
  SysFreeString(path);
  EXPECT_EQ(QueryPathOfRegTypeLib(kLibId, 1, 3, 0, &path), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(QueryPathOfRegTypeLib(kLibId, 2, 0, 0, &path), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(QueryPathOfRegTypeLib(kDual, 1, 0, 0, &path), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(QueryPathOfRegTypeLib(kLibId, 1, 0, 0, nullptr), E_INVALIDARG);

  FakeTypeLib german = MakeLibrary(1, 2, 0x7);  // German, any country
  ASSERT_EQ(RegisterTypeLib(&german, u"/v12-de.so", nullptr), S_OK);
  ASSERT_EQ(QueryPathOfRegTypeLib(kLibId, 1, 2, 0x0807, &path), S_OK);  // Swiss German: its language will do
  EXPECT_EQ(std::u16string(path), u"/v12-de.so");
  SysFreeString(path);
}

TEST_F(TypeLibRegistration, UnregisteringRemovesExactlyWhatRegisteringWrote) {
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"Interface\\{OTHER}\\TypeLib", nullptr, u"{SOMEONE-ELSE}"), ERROR_SUCCESS);
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"CLSID\\{X}", nullptr, u"unrelated"), ERROR_SUCCESS);
  ASSERT_EQ(CreateKey(HKEY_CLASSES_ROOT, u"TypeLib"), ERROR_SUCCESS);
  const auto before = Snapshot();
  FakeTypeLib library = MakeLibrary();
  ASSERT_EQ(RegisterTypeLib(&library, u"/a.so", u"/"), S_OK);
  ASSERT_NE(Snapshot(), before);
  ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0, SYS_WIN32), S_OK);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0, SYS_WIN32), TYPE_E_REGISTRYACCESS);
}

TEST_F(TypeLibRegistration, UnregisteringOneVersionKeepsTheOther) {
  FakeTypeLib one = MakeLibrary(1, 0);
  FakeTypeLib two = MakeLibrary(2, 0);
  ASSERT_EQ(RegisterTypeLib(&one, u"/one.so", nullptr), S_OK);
  ASSERT_EQ(RegisterTypeLib(&two, u"/two.so", nullptr), S_OK);  // its interfaces now name version 2.0
  ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0, SYS_WIN32), S_OK);
  const std::u16string lib = kLibKey;
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, lib + u"\\1.0"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, lib + u"\\2.0\\0\\win32"), u"/two.so");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::u16string(kDualKey) + u"\\TypeLib", u"Version"), u"2.0");
  ASSERT_EQ(UnRegisterTypeLib(kLibId, 2, 0, 0, SYS_WIN32), S_OK);
  // The shared containers stay, as they always exist on Windows.
  EXPECT_EQ(SubTree(HKEY_CLASSES_ROOT, u""), (std::vector<std::u16string>{u"Interface", u"TypeLib"}));
}

TEST_F(TypeLibRegistration, UnregisteringOneLocaleKeepsTheVersion) {
  FakeTypeLib neutral = MakeLibrary(1, 0, 0);
  FakeTypeLib english = MakeLibrary(1, 0, 0x409);
  ASSERT_EQ(RegisterTypeLib(&neutral, u"/n.so", nullptr), S_OK);
  ASSERT_EQ(RegisterTypeLib(&english, u"/e.so", nullptr), S_OK);
  ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0, 0x409, SYS_WIN32), S_OK);
  const std::u16string lib = kLibKey;
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, lib + u"\\1.0\\409"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, lib + u"\\1.0\\0\\win32"), u"/n.so");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, lib + u"\\1.0\\FLAGS"));
}

}  // namespace
}  // namespace quillbox::test
