// The registrar: registry-script grammar, replacements, register and unregister semantics.
#include "support/registry_helpers.h"
#include "support/temp_registry.h"

#include <atliface.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

namespace quillbox::test {
namespace {

constexpr char16_t kClassKey[] = u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}";

// The component's own registration, as it stands in its module.
constexpr char16_t kComponentScript[] =
    u"HKCR\r\n"
    u"{\r\n"
    u"\tQuillbox.Signature.1 = s 'Karvona Signature SDK'\r\n"
    u"\t{\r\n"
    u"\t\tCLSID = s '{2A426405-E493-4525-835C-A7B2DEFE8CC8}'\r\n"
    u"\t}\r\n"
    u"\tQuillbox.Signature = s 'Karvona Signature SDK'\r\n"
    u"\t{\r\n"
    u"\t\tCLSID = s '{2A426405-E493-4525-835C-A7B2DEFE8CC8}'\r\n"
    u"\t\tCurVer = s 'Quillbox.Signature.1'\r\n"
    u"\t}\r\n"
    u"\tNoRemove CLSID\r\n"
    u"\t{\r\n"
    u"\t\tForceRemove {2A426405-E493-4525-835C-A7B2DEFE8CC8} = s 'Karvona Signature SDK'\r\n"
    u"\t\t{\r\n"
    u"\t\t\tProgID = s 'Quillbox.Signature.1'\r\n"
    u"\t\t\tVersionIndependentProgID = s 'Quillbox.Signature'\r\n"
    u"\t\t\tForceRemove 'Programmable'\r\n"
    u"\t\t\tInprocServer32 = s '%MODULE%'\r\n"
    u"\t\t\t{\r\n"
    u"\t\t\t\tval ThreadingModel = s 'Apartment'\r\n"
    u"\t\t\t}\r\n"
    u"\t\t\t'TypeLib' = s '{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}'\r\n"
    u"\t\t}\r\n"
    u"\t}\r\n"
    u"}\r\n";

class Registrar : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                               reinterpret_cast<void**>(&registrar_)),
              S_OK);
  }
  void TearDown() override {
    if (registrar_ != nullptr) registrar_->Release();
    CoUninitialize();
  }

  HRESULT Register(const std::u16string& script) { return registrar_->StringRegister(script.c_str()); }
  HRESULT Unregister(const std::u16string& script) { return registrar_->StringUnregister(script.c_str()); }

  static std::optional<DWORD> ReadDword(HKEY root, const std::u16string& path, const char16_t* name) {
    Key key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
      return std::nullopt;
    return value;
  }

  static std::pair<DWORD, std::vector<BYTE>> ReadRaw(HKEY root, const std::u16string& path, const char16_t* name) {
    Key key;
    std::vector<BYTE> data(1024);
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.get(), name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
      return {REG_NONE, {}};
    data.resize(size);
    return {type, data};
  }

  TempRegistry registry_;
  IRegistrar* registrar_ = nullptr;
};

TEST_F(Registrar, TheComponentScriptWritesItsEntries) {
  ASSERT_EQ(registrar_->AddReplacement(u"Module", u"/opt/quill''box/lib/quillbox.so"), S_OK);
  ASSERT_EQ(Register(kComponentScript), S_OK);

  const std::u16string classKey = kClassKey;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature.1"), u"Karvona Signature SDK");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature.1\\CLSID"), u"{2A426405-E493-4525-835C-A7B2DEFE8CC8}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\CurVer"), u"Quillbox.Signature.1");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey), u"Karvona Signature SDK");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\ProgID"), u"Quillbox.Signature.1");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\VersionIndependentProgID"), u"Quillbox.Signature");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32"), u"/opt/quill'box/lib/quillbox.so");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", u"ThreadingModel"), u"Apartment");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\TypeLib"), u"{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey + u"\\Programmable"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + u"\\Programmable"), std::nullopt);  // no value at all

  EXPECT_EQ(SubTree(HKEY_CLASSES_ROOT, u""),
            (std::vector<std::u16string>{
                u"CLSID", u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}",
                u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}\\InprocServer32",
                u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}\\ProgID",
                u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}\\Programmable",
                u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}\\TypeLib",
                u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}\\VersionIndependentProgID", u"Quillbox.Signature",
                u"Quillbox.Signature\\CLSID", u"Quillbox.Signature\\CurVer", u"Quillbox.Signature.1",
                u"Quillbox.Signature.1\\CLSID"}));

  // Both identifiers lead to the class.
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Quillbox.Signature", &clsid), S_OK);
  char16_t text[39];
  StringFromGUID2(clsid, text, 39);
  EXPECT_EQ(std::u16string(text), u"{2A426405-E493-4525-835C-A7B2DEFE8CC8}");
}

TEST_F(Registrar, UnregisteringLeavesOnlyTheNoRemoveKeys) {
  ASSERT_EQ(registrar_->AddReplacement(u"MODULE", u"/x.so"), S_OK);
  ASSERT_EQ(Register(kComponentScript), S_OK);
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"CLSID\\{OTHER}", nullptr, u"someone else"), ERROR_SUCCESS);
  ASSERT_EQ(Unregister(kComponentScript), S_OK);
  EXPECT_EQ(SubTree(HKEY_CLASSES_ROOT, u""), (std::vector<std::u16string>{u"CLSID", u"CLSID\\{OTHER}"}));
  // Nothing registered: unregistering again still succeeds.
  EXPECT_EQ(Unregister(kComponentScript), S_OK);
}

TEST_F(Registrar, ReRegistrationWithForceRemoveDropsAHandAddedSubKey) {
  ASSERT_EQ(registrar_->AddReplacement(u"Module", u"/x.so"), S_OK);
  ASSERT_EQ(Register(kComponentScript), S_OK);
  const std::u16string classKey = kClassKey;
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, classKey + u"\\Stale", nullptr, u"old"), ERROR_SUCCESS);
  ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\Extra", nullptr, u"kept"), ERROR_SUCCESS);
  const auto before = SubTree(HKEY_CLASSES_ROOT, u"");
  ASSERT_EQ(Register(kComponentScript), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey + u"\\Stale"));
  // Without ForceRemove a key is only written over, so what else it holds stays.
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"Quillbox.Signature\\Extra"), u"kept");
  auto expected = before;
  std::erase(expected, u"CLSID\\{2A426405-E493-4525-835C-A7B2DEFE8CC8}\\Stale");
  EXPECT_EQ(SubTree(HKEY_CLASSES_ROOT, u""), expected);
}

TEST_F(Registrar, UnregistrationRemovesAnUnflaggedKeyWithEverythingBelowIt) {
  ASSERT_EQ(Register(u"HKCU { App = s 'x' { Settings { val Level = d '3' } } }"), S_OK);
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, u"App\\Settings\\ByHand", nullptr, u"y"), ERROR_SUCCESS);
  ASSERT_EQ(Unregister(u"HKCU { App = s 'x' { Settings { val Level = d '3' } } }"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"App"));
}

TEST_F(Registrar, ANoRemoveKeyKeepsItsUnflaggedParentsButLosesWhatTheScriptNames) {
  const std::u16string script = u"HKCU { Outer { NoRemove Shared { Mine = s 'm' val Setting = s 'v' } Own } }";
  ASSERT_EQ(Register(script), S_OK);
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, u"Outer\\Shared\\Theirs", nullptr, u"t"), ERROR_SUCCESS);
  ASSERT_EQ(Unregister(script), S_OK);
  EXPECT_EQ(SubTree(HKEY_CURRENT_USER, u""),
            (std::vector<std::u16string>{u"Outer", u"Outer\\Shared", u"Outer\\Shared\\Theirs"}));
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Outer\\Shared", u"Setting"), std::nullopt);
}

TEST_F(Registrar, DeleteRemovesAKeyAtRegistrationOnly) {
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, u"Old\\Deep", nullptr, u"x"), ERROR_SUCCESS);
  ASSERT_EQ(Register(u"HKCU { Delete Old New }"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Old"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"New"));
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, u"Old", nullptr, u"back"), ERROR_SUCCESS);
  ASSERT_EQ(Unregister(u"HKCU { Delete Old New }"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Old"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"New"));
}

TEST_F(Registrar, EveryRootNameAndValueType) {
  ASSERT_EQ(Register(u"hkey_local_machine { Types {\n"
                     u"  val Str = s 'text'\n"
                     u"  val Exp = e '%%PATH%%'\n"
                     u"  val Dec = d '4294967295'\n"
                     u"  val Hex = d '0x1F'\n"
                     u"  val Big = q '0x0102030405060708'\n"
                     u"  val Bin = b '00ff7A'\n"
                     u"  val Multi = m 'one\\0two'\n"
                     u"  val '' = s 'default via val'\n"
                     u"} }\n"
                     u"HKEY_CURRENT_USER { U } HKEY_CLASSES_ROOT { C } HKLM { L } hkcu { u2 }"),
            S_OK);
  const std::u16string types = u"Types";
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, types, u"Str"), u"text");
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, types, u"Dec"), 0xFFFFFFFFu);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, types, u"Hex"), 0x1Fu);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, types), u"default via val");

  auto [expType, expData] = ReadRaw(HKEY_LOCAL_MACHINE, types, u"Exp");
  EXPECT_EQ(expType, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(expData.data())), u"%PATH%");

  auto [bigType, bigData] = ReadRaw(HKEY_LOCAL_MACHINE, types, u"Big");
  EXPECT_EQ(bigType, static_cast<DWORD>(REG_QWORD));
  std::uint64_t big = 0;
  ASSERT_EQ(bigData.size(), sizeof big);
  std::memcpy(&big, bigData.data(), sizeof big);
  EXPECT_EQ(big, 0x0102030405060708u);

  auto [binType, binData] = ReadRaw(HKEY_LOCAL_MACHINE, types, u"Bin");
  EXPECT_EQ(binType, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(binData, (std::vector<BYTE>{0x00, 0xFF, 0x7A}));

  auto [multiType, multiData] = ReadRaw(HKEY_LOCAL_MACHINE, types, u"Multi");
  EXPECT_EQ(multiType, static_cast<DWORD>(REG_MULTI_SZ));
  const std::u16string multi(reinterpret_cast<const char16_t*>(multiData.data()), multiData.size() / 2);
  EXPECT_EQ(multi, std::u16string(u"one\0two\0\0", 9));

  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"U"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"u2"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"C"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, u"L"));
}

TEST_F(Registrar, QuotingAndKeywordsAsNames) {
  ASSERT_EQ(Register(u"HKCU { 'It''s here' = s 'say ''hi''' { 'val' = s 'a key named val' 'NoRemove' 'with space' "
                     u"'{' } }"),
            S_OK);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"It's here"), u"say 'hi'");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"It's here\\val"), u"a key named val");
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"It's here\\NoRemove"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"It's here\\with space"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"It's here\\{"));
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"It's here\\NoRemove"), std::nullopt);
}

TEST_F(Registrar, ReplacementsAreCaseInsensitiveAndTheLatestWins) {
  ASSERT_EQ(registrar_->AddReplacement(u"Path", u"first"), S_OK);
  ASSERT_EQ(registrar_->AddReplacement(u"PATH", u"second"), S_OK);
  ASSERT_EQ(registrar_->AddReplacement(u"Key", u"Named"), S_OK);
  ASSERT_EQ(Register(u"HKCU { %key% = s '%path% 100%%' }"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Named"), u"second 100%");

  ASSERT_EQ(registrar_->ClearReplacements(), S_OK);
  EXPECT_EQ(Register(u"HKCU { %key% }"), DISP_E_EXCEPTION);
  EXPECT_EQ(registrar_->AddReplacement(nullptr, u"x"), E_INVALIDARG);
  EXPECT_EQ(registrar_->StringRegister(nullptr), E_INVALIDARG);
}

TEST_F(Registrar, MalformedScriptsFailAndWriteNothing) {
  const char16_t* const malformed[] = {
      u"HKCR",                                  // no body
      u"HKCR {",                                // unclosed
      u"HKCR { A { }",                          // unclosed inner
      u"HKCR { } }",                            // stray brace
      u"HKXX { A }",                            // unknown root
      u"HKU { A }",                             // root not provided
      u"A { B }",                               // no root
      u"HKCR { A = s 'unterminated }",          // quote never closed
      u"HKCR { A = s }",                        // value missing
      u"HKCR { A = s unquoted }",               // value not quoted
      u"HKCR { A = x 'what' }",                 // unknown type
      u"HKCR { A = 's' 'quoted type' }",        // type quoted
      u"HKCR { A = d 'twelve' }",               // not a number
      u"HKCR { A = d '4294967296' }",           // too big for a DWORD
      u"HKCR { A = d '' }",                     // empty number
      u"HKCR { A = d '0x' }",                   // hex prefix alone
      u"HKCR { A = b 'abc' }",                  // odd hex digits
      u"HKCR { A = b 'zz' }",                   // not hex
      u"HKCR { val = s 'x' }",                  // val without a name
      u"HKCR { val A s 'x' }",                  // val without '='
      u"HKCR { val A }",                        // val without a value
      u"HKCR { NoRemove }",                     // flag without a name
      u"HKCR { NoRemove { } }",                 // flag before a brace
      u"HKCR { ForceRemove val A = s 'x' }",    // flag on a value
      u"HKCR { '' }",                           // empty key name
      u"HKCR { = s 'x' }",                      // assignment without a key
      u"HKCR { A = s '%UNKNOWN%' }",            // replacement not defined
      u"HKCR { A = s '100% sure' }",            // lone percent
      u"HKCR = s 'x' { }",                      // value on a root
      u"HKCR { A } trailing",                   // garbage after a root
  };
  for (const char16_t* script : malformed) {
    EXPECT_EQ(Register(script), DISP_E_EXCEPTION) << std::string(script, script + std::char_traits<char16_t>::length(script));
    EXPECT_EQ(Unregister(script), DISP_E_EXCEPTION);
  }
  EXPECT_TRUE(SubTree(HKEY_CLASSES_ROOT, u"").empty());
  EXPECT_TRUE(SubTree(HKEY_CURRENT_USER, u"").empty());
}

TEST_F(Registrar, NestingIsBoundedAndDeepScriptsDoNotCrash) {
  auto nested = [](int levels) {
    std::u16string script = u"HKCU ";
    for (int i = 0; i < levels; ++i) script += u"{ K ";
    for (int i = 0; i < levels; ++i) script += u"} ";
    return script;
  };
  EXPECT_EQ(Register(nested(65)), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"K"));
  EXPECT_EQ(Register(nested(64)), S_OK);
  EXPECT_EQ(SubTree(HKEY_CURRENT_USER, u"").size(), 64u);  // the innermost K has no body

  std::u16string deep = u"HKCU ";
  for (int i = 0; i < 200000; ++i) deep += u"{ K ";
  EXPECT_EQ(Register(deep), DISP_E_EXCEPTION);
}

TEST_F(Registrar, ScriptsFromFiles) {
  const std::filesystem::path file = registry_.directory() + "/script.rgs";
  {
    std::ofstream out(file, std::ios::binary);
    out << "HKCU\r\n{\r\n\tFromFile = s '%WHAT%'\r\n}\r\n";
  }
  ASSERT_EQ(registrar_->AddReplacement(u"What", u"file text"), S_OK);
  const std::string path = file.string();
  const std::u16string widePath(path.begin(), path.end());
  ASSERT_EQ(registrar_->FileRegister(widePath.c_str()), S_OK);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"FromFile"), u"file text");
  ASSERT_EQ(registrar_->FileUnregister(widePath.c_str()), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"FromFile"));
  EXPECT_EQ(registrar_->FileRegister((widePath + u".missing").c_str()), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(Registrar, ARegistryFailureStopsRegistrationAndKeepsWhatWasWritten) {
  // A key name longer than the registry allows fails at the registry, after the first key.
  const std::u16string tooLong(300, u'x');
  EXPECT_EQ(Register(u"HKCU { First Second '" + tooLong + u"' Third }"), HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"First"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Second"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Third"));
}

// Two installers registering at once under a shared NoRemove key: each run is one transaction, so
// neither loses the other's entries and neither sees the other half done.
TEST_F(Registrar, TwoProcessesRegisteringAtOnceBothKeepTheirEntries) {
  auto scriptFor = [](char16_t who) {
    std::u16string script = u"HKCR { NoRemove CLSID { ";
    for (int i = 0; i < 100; ++i) {
      script += u"ForceRemove '";
      script.push_back(who);
      for (char c : std::to_string(i)) script.push_back(static_cast<char16_t>(c));
      script += u"' = s 'x' { InprocServer32 = s 'p' { val ThreadingModel = s 'Apartment' } } ";
    }
    return script + u"} }";
  };
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (char16_t who : {u'A', u'B'}) {
    const std::u16string script = scriptFor(who);
    const pid_t pid = fork();
    if (pid == 0) {
      close(go[1]);
      char start = 0;
      if (read(go[0], &start, 1) != 1) _exit(3);
      for (int round = 0; round < 5; ++round)
        if (registrar_->StringRegister(script.c_str()) != S_OK) _exit(1);
      _exit(0);
    }
    children.push_back(pid);
  }
  close(go[0]);
  ASSERT_EQ(write(go[1], "gg", 2), 2);
  close(go[1]);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(SubTree(HKEY_CLASSES_ROOT, u"CLSID").size(), 2u * 100 * 2);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"CLSID\\A99\\InprocServer32", u"ThreadingModel"), u"Apartment");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, u"CLSID\\B0\\InprocServer32"), u"p");
}

// Mutations of a valid script never crash the parser; a run either succeeds, refuses the script
// (writing nothing), or reports a registry failure.
TEST_F(Registrar, MutatedScriptsNeverCrash) {
  const std::u16string base = u"HKCR { NoRemove CLSID { ForceRemove {X} = s 'a''b' { val V = d '0x10' "
                              u"'Sub' = b '0aff' { Delete Old } } } } HKCU { K = m 'a\\0b' }";
  const char16_t alphabet[] = u"{}='% \\sdbmqeval0xHKCUNoRemove";
  std::mt19937 random(20240611);
  for (int round = 0; round < 1500; ++round) {
    std::u16string script = base;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = random() % (script.size() + 1);
      switch (random() % 3) {
        case 0:
          if (at < script.size()) script.erase(at, 1 + random() % 3);
          break;
        case 1:
          script.insert(at, 1, alphabet[random() % (std::size(alphabet) - 1)]);
          break;
        default:
          if (at < script.size()) script[at] = static_cast<char16_t>(random() % 0x3000);
      }
    }
    const HRESULT result = Register(script);
    if (result == DISP_E_EXCEPTION) {
      ASSERT_TRUE(SubTree(HKEY_CLASSES_ROOT, u"").empty()) << round;
      ASSERT_TRUE(SubTree(HKEY_CURRENT_USER, u"").empty()) << round;
    } else if (result == S_OK) {
      ASSERT_EQ(Unregister(script), S_OK) << round;
    } else {
      // A registry failure, e.g. a mutated key name the registry refuses.
      ASSERT_EQ(static_cast<std::uint32_t>(result) & 0xFFFF0000u, 0x80070000u) << std::hex << result;
    }
    ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, nullptr), ERROR_SUCCESS);
  }
}

}  // namespace
}  // namespace quillbox::test
