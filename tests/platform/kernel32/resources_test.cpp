// Resources by module handle and by path (data file), the component's real resources, lookup
// errors, and malformed module files.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "platform/oleaut32/typelib_helpers.h"

namespace {

using quillbox::test::ComPtr;

const std::string kQuillboxModule = std::string(QUILLBOX_FAKE_DIR) + "/quillboxres.so";
const std::string kExtraModule = std::string(QUILLBOX_FAKE_DIR) + "/extrares.so";

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::uint8_t> ResourceBytes(HMODULE module, HRSRC resource) {
  const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, resource)));
  return std::vector<std::uint8_t>(data, data + SizeofResource(module, resource));
}

using quillbox::test::TempDir;

// Writes `bytes` as `name` in `dir`; the file's path.
std::string WriteBytes(const TempDir& dir, const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::string path = dir / name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// Reads a VS_VERSIONINFO node: its key, value bytes and children.
struct VersionNode {
  std::u16string key;
  std::uint16_t type = 0;
  std::uint16_t valueLength = 0;
  std::vector<std::uint8_t> value;
  std::vector<VersionNode> children;
};

bool ParseVersionNode(const std::uint8_t* p, std::size_t available, VersionNode& node, std::size_t& used) {
  if (available < 6) return false;
  const std::uint16_t length = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  node.valueLength = static_cast<std::uint16_t>(p[2] | (p[3] << 8));
  node.type = static_cast<std::uint16_t>(p[4] | (p[5] << 8));
  if (length < 6 || length > available) return false;
  std::size_t at = 6;
  while (at + 1 < length) {
    const char16_t c = static_cast<char16_t>(p[at] | (p[at + 1] << 8));
    at += 2;
    if (c == 0) break;
    node.key += c;
  }
  at = (at + 3) & ~std::size_t{3};
  const std::size_t valueBytes = node.type == 1 ? node.valueLength * 2u : node.valueLength;
  if (at + valueBytes > length) return false;
  node.value.assign(p + at, p + at + valueBytes);
  at += valueBytes;
  while (true) {
    at = (at + 3) & ~std::size_t{3};
    if (at >= length) break;
    VersionNode child;
    std::size_t childUsed = 0;
    if (!ParseVersionNode(p + at, length - at, child, childUsed)) return false;
    node.children.push_back(std::move(child));
    at += childUsed;
  }
  used = length;
  return true;
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

class ModuleResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(kQuillboxModule.c_str());
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { FreeLibrary(module_); }
  HMODULE module_ = nullptr;
};

TEST_F(ModuleResources, RegistryScriptIsTheFileByteForByte) {
  HRSRC script = FindResourceA(module_, MAKEINTRESOURCEA(101), "REGISTRY");
  ASSERT_NE(script, nullptr);
  const std::vector<std::uint8_t> expected = ReadBytes(std::string(QUILLBOX_SOURCE_DIR) + "/resources/quillbox.rgs");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(ResourceBytes(module_, script), expected);
  // Stored under Slovenian (1060), found also by asking for that language exactly.
  EXPECT_EQ(FindResourceExA(module_, "REGISTRY", MAKEINTRESOURCEA(101), 1060), script);
  EXPECT_EQ(FindResourceExA(module_, "registry", "#101", 1060), script);  // case and "#id" forms
  SetLastError(0);
  EXPECT_EQ(FindResourceExA(module_, "REGISTRY", MAKEINTRESOURCEA(101), 1033), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
}

TEST_F(ModuleResources, RegistryScriptHasCrLfLinesAndTheClassEntries) {
  HRSRC script = FindResourceA(module_, MAKEINTRESOURCEA(101), "REGISTRY");
  ASSERT_NE(script, nullptr);
  const std::vector<std::uint8_t> bytes = ResourceBytes(module_, script);
  const std::string text(bytes.begin(), bytes.end());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
  }
  EXPECT_NE(text.find("InprocServer32 = s '%MODULE%'\r\n"), std::string::npos);
  EXPECT_NE(text.find("val ThreadingModel = s 'Apartment'"), std::string::npos);
  EXPECT_NE(text.find("NoRemove CLSID"), std::string::npos);
  EXPECT_NE(text.find("ForceRemove 'Programmable'"), std::string::npos);
  EXPECT_NE(text.find("'TypeLib' = s '{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}'"), std::string::npos);
}

TEST_F(ModuleResources, TypeLibraryResourceIsTheCompiledFile) {
  HRSRC typelib = FindResourceExA(module_, "TYPELIB", MAKEINTRESOURCEA(1), 1033);
  ASSERT_NE(typelib, nullptr);
  EXPECT_EQ(ResourceBytes(module_, typelib), ReadBytes(QUILLBOX_TLB));
}

TEST_F(ModuleResources, StringTableEntry) {
  WCHAR buffer[32];
  ASSERT_EQ(LoadStringW(module_, 100, buffer, 32), 8);
  EXPECT_EQ(std::u16string(buffer), u"Quillbox");
  char narrow[32];
  ASSERT_EQ(LoadStringA(module_, 100, narrow, 32), 8);
  EXPECT_STREQ(narrow, "Quillbox");
  // Block 7 holds strings 96..111; only 100 is set.
  EXPECT_EQ(LoadStringW(module_, 101, buffer, 32), 0);
  EXPECT_EQ(LoadStringW(module_, 200, buffer, 32), 0);
  HRSRC block = FindResourceExA(module_, RT_STRING, MAKEINTRESOURCEA(7), 1033);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(SizeofResource(module_, block), 16u * 2 + 8 * 2);
}

TEST_F(ModuleResources, VersionBlock) {
  HRSRC version = FindResourceExA(module_, RT_VERSION, MAKEINTRESOURCEA(1), 1033);
  ASSERT_NE(version, nullptr);
  const std::vector<std::uint8_t> bytes = ResourceBytes(module_, version);
  VersionNode root;
  std::size_t used = 0;
  ASSERT_TRUE(ParseVersionNode(bytes.data(), bytes.size(), root, used));
  EXPECT_EQ(used, bytes.size());
  EXPECT_EQ(root.key, u"VS_VERSION_INFO");
  ASSERT_EQ(root.value.size(), 52u);
  EXPECT_EQ(U32(root.value, 0), 0xFEEF04BDu);
  EXPECT_EQ(U32(root.value, 8), 0x00010000u);   // file version 1.0
  EXPECT_EQ(U32(root.value, 12), 0x00010000u);  // .1.0
  EXPECT_EQ(U32(root.value, 16), 0x00010000u);  // product version
  EXPECT_EQ(U32(root.value, 20), 0x00010000u);
  EXPECT_EQ(U32(root.value, 32), 0x4u);  // VOS__WINDOWS32
  EXPECT_EQ(U32(root.value, 36), 0x2u);  // VFT_DLL

  ASSERT_EQ(root.children.size(), 2u);
  const VersionNode& strings = root.children[0];
  EXPECT_EQ(strings.key, u"StringFileInfo");
  ASSERT_EQ(strings.children.size(), 1u);
  const VersionNode& table = strings.children[0];
  EXPECT_EQ(table.key, u"040904b0");
  std::vector<std::pair<std::u16string, std::u16string>> values;
  for (const VersionNode& entry : table.children) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < entry.value.size(); i += 2) text += static_cast<char16_t>(entry.value[i] | (entry.value[i + 1] << 8));
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), u'\0');
    text.pop_back();
    values.emplace_back(entry.key, text);
  }
  const std::vector<std::pair<std::u16string, std::u16string>> expected = {
      {u"Comments", u""},           {u"CompanyName", u""},         {u"FileDescription", u"Quillbox Module"},
      {u"FileVersion", u"1, 0, 1, 0"}, {u"InternalName", u"Quillbox"}, {u"LegalTrademarks", u""},
      {u"OLESelfRegister", u""},    {u"OriginalFilename", u"Quillbox.DLL"}, {u"PrivateBuild", u""},
      {u"ProductName", u"Quillbox Module"}, {u"ProductVersion", u"1, 0, 1, 0"}, {u"SpecialBuild", u""}};
  EXPECT_EQ(values, expected);

  const VersionNode& vars = root.children[1];
  EXPECT_EQ(vars.key, u"VarFileInfo");
  ASSERT_EQ(vars.children.size(), 1u);
  EXPECT_EQ(vars.children[0].key, u"Translation");
  ASSERT_EQ(vars.children[0].value.size(), 4u);
  EXPECT_EQ(U32(vars.children[0].value, 0), 0x04B00409u);
}

TEST_F(ModuleResources, MissingResources) {
  SetLastError(0);
  EXPECT_EQ(FindResourceA(module_, MAKEINTRESOURCEA(102), "REGISTRY"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(FindResourceA(module_, MAKEINTRESOURCEA(1), "NOSUCHTYPE"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(FindResourceA(module_, nullptr, "REGISTRY"), nullptr);
  EXPECT_EQ(SizeofResource(module_, nullptr), 0u);
  EXPECT_EQ(LoadResource(module_, nullptr), nullptr);
}

TEST(DataFileResources, ByPathWithoutRunningTheModule) {
  HMODULE module = LoadLibraryExA(kQuillboxModule.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC typelib = FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB");
  ASSERT_NE(typelib, nullptr);
  EXPECT_EQ(ResourceBytes(module, typelib), ReadBytes(QUILLBOX_TLB));
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(DataFileResources, LoadTypeLibReadsTheModulesTypeLibrary) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(quillbox::test::LoadTypeLibFromPath(kQuillboxModule, lib.out()), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  const GUID libId = {0x55C3208D, 0x3C4C, 0x4F72, {0xB6, 0xBD, 0xF0, 0x13, 0xDB, 0x1D, 0x17, 0xF1}};
  EXPECT_TRUE(attr->guid == libId);
  lib->ReleaseTLibAttr(attr);
}

TEST(DataFileResources, ModuleWithoutTypeLibraryIsRefused) {
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(quillbox::test::LoadTypeLibFromPath(kExtraModule, lib.out()), TYPE_E_CANTLOADLIBRARY);
}

TEST(DataFileResources, NamedTypesNumberedNamesAndLanguages) {
  HMODULE module = LoadLibraryExA(kExtraModule.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC named = FindResourceA(module, "alpha", "rcdata_by_name");
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(ResourceBytes(module, named), (std::vector<std::uint8_t>{'a', 'l', 'p', 'h', 'a'}));
  // Type 10, name 7: English and German; neutral asks prefer English.
  HRSRC english = FindResourceA(module, MAKEINTRESOURCEA(7), RT_RCDATA);
  ASSERT_NE(english, nullptr);
  EXPECT_EQ(SizeofResource(module, english), 5u);
  HRSRC german = FindResourceExA(module, RT_RCDATA, MAKEINTRESOURCEA(7), 1031);
  ASSERT_NE(german, nullptr);
  EXPECT_EQ(SizeofResource(module, german), 9u);
  // A specific language falls back to the neutral form of its primary language only.
  EXPECT_EQ(FindResourceExA(module, RT_RCDATA, MAKEINTRESOURCEA(7), 2055), nullptr);  // German (Swiss)
  // A resource stored as neutral is found by a neutral request.
  EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(9), RT_RCDATA), nullptr);
  WCHAR buffer[8];
  EXPECT_EQ(LoadStringW(module, 101, buffer, 8), 7);  // truncated to fit, zero-terminated
  EXPECT_EQ(std::u16string(buffer), u"Zweiter");
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(DataFileResources, HandleOfALoadedModuleAndOfItsFileAgree) {
  HMODULE loaded = LoadLibraryA(kExtraModule.c_str());
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(SizeofResource(loaded, FindResourceA(loaded, "ALPHA", "RCDATA_BY_NAME")), 5u);
  FreeLibrary(loaded);
}

TEST(DataFileResources, ModuleWithoutResourceSection) {
  HMODULE module = LoadLibraryExA((std::string(QUILLBOX_FAKE_DIR) + "/fakeexports.so").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  SetLastError(0);
  EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  FreeLibrary(module);
}

TEST(DataFileResources, MissingFile) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryExA("/nonexistent/module.so", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(MalformedModules, NonElfFilesAreRefused) {
  TempDir dir;
  const std::string text = WriteBytes(dir, "text.so", {'n', 'o', 't', ' ', 'e', 'l', 'f'});
  SetLastError(0);
  EXPECT_EQ(LoadLibraryExA(text.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  const std::string empty = WriteBytes(dir, "empty.so", {});
  EXPECT_EQ(LoadLibraryExA(empty.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  ComPtr<ITypeLib> lib;
  EXPECT_TRUE(FAILED(quillbox::test::LoadTypeLibFromPath(text, lib.out())));
}

TEST(MalformedModules, EveryTruncationOfAModuleIsHandled) {
  // Cut the module at many lengths (all of its ELF header and section table region, and a
  // spread across the rest): each cut either fails cleanly or still yields correct resources.
  const std::vector<std::uint8_t> whole = ReadBytes(kQuillboxModule);
  ASSERT_GT(whole.size(), 1000u);
  const std::vector<std::uint8_t> typelib = ReadBytes(QUILLBOX_TLB);
  TempDir dir;
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n < 256; ++n) lengths.push_back(n);
  for (std::size_t n = 256; n < whole.size(); n += whole.size() / 300 + 1) lengths.push_back(n);
  for (std::size_t n = whole.size() - 256; n < whole.size(); ++n) lengths.push_back(n);
  int index = 0;
  for (std::size_t length : lengths) {
    // A new name each time: the platform keeps what it read of each file version.
    const std::string path = WriteBytes(dir, "cut" + std::to_string(index++) + ".so",
                                      std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) continue;
    if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB")) {
      EXPECT_EQ(ResourceBytes(module, found), typelib);
    }
    FreeLibrary(module);
  }
}

TEST(MalformedModules, DamagedElfHeadersAreRefused) {
  const std::vector<std::uint8_t> whole = ReadBytes(kQuillboxModule);
  TempDir dir;
  struct Damage {
    std::size_t offset;
    std::uint8_t value;
  };
  // e_ident class, data encoding; e_shentsize; e_shstrndx; e_shoff pointing past the end.
  const Damage damages[] = {{4, 1}, {5, 2}, {0x3A, 0x10}, {0x3E, 0xFE}, {0x3F, 0x7F}, {0x2F, 0x7F}};
  int index = 0;
  for (const Damage& d : damages) {
    std::vector<std::uint8_t> bytes = whole;
    bytes[d.offset] = d.value;
    const std::string path = WriteBytes(dir, "damaged" + std::to_string(index++) + ".so", bytes);
    SetLastError(0);
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_EQ(module, nullptr) << "damage at " << d.offset;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT)) << "damage at " << d.offset;
    if (module != nullptr) FreeLibrary(module);
  }
}

}  // namespace
