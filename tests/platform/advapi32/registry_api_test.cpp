#include "support/registry_helpers.h"
#include "support/temp_registry.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quillbox::test {
namespace {

class RegistryApi : public ::testing::Test {
 protected:
  HKEY Create(const std::u16string& path, REGSAM access = KEY_ALL_ACCESS, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, access, nullptr, &key, disposition),
              ERROR_SUCCESS);
    return key;
  }
  static LSTATUS SetDword(HKEY key, const char16_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }

  TempRegistry registry_;
};

TEST_F(RegistryApi, KeyNamesAreCaseInsensitiveAndCasePreserving) {
  DWORD disposition = 0;
  Key created(Create(u"Software\\MixedCase", KEY_ALL_ACCESS, &disposition));
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  Key again(Create(u"SOFTWARE\\mixedCASE", KEY_ALL_ACCESS, &disposition));
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

  Key opened;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\MIXEDCASE", 0, KEY_READ, opened.out()), ERROR_SUCCESS);
  EXPECT_EQ(SubTree(HKEY_CURRENT_USER, u""), (std::vector<std::u16string>{u"Software", u"Software\\MixedCase"}));
}

TEST_F(RegistryApi, FoldingCoversLettersBeyondAscii) {
  Key created(Create(u"Ünïcödé Ωмега"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"üNÏCÖDÉ ωМЕГА"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Unicode Omega"));
}

TEST_F(RegistryApi, OpeningAMissingKeyFailsAndNullsTheHandle) {
  HKEY key = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Nope\\Not\\Here", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryApi, RootsAreSeparate) {
  Key created(Create(u"OnlyInUser"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"OnlyInUser"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, u"OnlyInUser"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"OnlyInUser"));
}

TEST_F(RegistryApi, MalformedPathsAreRefused) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"\\Leading", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"A\\\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_BAD_PATHNAME);
  const std::u16string longest(255, u'x');
  const std::u16string tooLong(256, u'x');
  EXPECT_EQ(CreateKey(HKEY_CURRENT_USER, longest), ERROR_SUCCESS);
  EXPECT_EQ(CreateKey(HKEY_CURRENT_USER, tooLong), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateKey(HKEY_CURRENT_USER, u"Trailing\\"), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Trailing"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"A"));  // nothing of a refused path was created
}

TEST_F(RegistryApi, ValuesOfEachTypeRoundTrip) {
  Key key(Create(u"Values"));
  const std::u16string text = u"caf\u00e9 \u20ac";
  const auto textBytes = static_cast<DWORD>((text.size() + 1) * 2);
  ASSERT_EQ(RegSetValueExW(key.get(), u"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), textBytes),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.get(), u"Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(u"%HOME%"), 14),
            ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key.get(), u"Number", 0xDEADBEEF), ERROR_SUCCESS);
  const BYTE binary[] = {0, 1, 2, 0xFF, 0};
  ASSERT_EQ(RegSetValueExW(key.get(), u"Blob", 0, REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.get(), u"Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);

  DWORD type = 0;
  DWORD number = 0;
  DWORD size = sizeof number;
  ASSERT_EQ(RegQueryValueExW(key.get(), u"NUMBER", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number, 0xDEADBEEFu);

  BYTE buffer[64] = {};
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExW(key.get(), u"blob", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  ASSERT_EQ(size, sizeof binary);
  EXPECT_EQ(std::memcmp(buffer, binary, sizeof binary), 0);

  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExW(key.get(), u"Expand", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(size, 14u);

  size = 7;
  ASSERT_EQ(RegQueryValueExW(key.get(), u"Empty", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);

  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Values", u"TEXT"), text);
}

TEST_F(RegistryApi, SizeQueriesAndShortBuffers) {
  Key key(Create(u"Sizes"));
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, u"Sizes", nullptr, u"twelve chars"), ERROR_SUCCESS);
  const DWORD needed = 13 * 2;

  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, needed);

  char16_t small[4] = {u'a', u'b', u'c', u'd'};
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, needed);

  char16_t exact[13] = {};
  size = needed;
  EXPECT_EQ(RegQueryValueExW(key.get(), u"", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(exact), u"twelve chars");

  EXPECT_EQ(RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(exact), nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApi, MissingValuesAndAnUnsetDefaultAreNotFound) {
  Key key(Create(u"NoValues"));
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key.get(), u"Absent", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(key.get(), u"Absent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, OverwritingAValueKeepsItsSpellingAndPlace) {
  Key key(Create(u"Order"));
  ASSERT_EQ(SetDword(key.get(), u"First", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key.get(), u"Second", 2), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key.get(), u"Third", 3), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key.get(), u"FIRST", 10), ERROR_SUCCESS);

  std::vector<std::pair<std::u16string, DWORD>> seen;
  for (DWORD index = 0;; ++index) {
    char16_t name[32];
    DWORD units = 32;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status =
        RegEnumValueW(key.get(), index, name, &units, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(status, ERROR_SUCCESS);
    seen.emplace_back(std::u16string(name, units), value);
  }
  EXPECT_EQ(seen, (std::vector<std::pair<std::u16string, DWORD>>{{u"First", 10}, {u"Second", 2}, {u"Third", 3}}));
}

TEST_F(RegistryApi, EnumValueReportsShortBuffers) {
  Key key(Create(u"EnumValue"));
  ASSERT_EQ(SetDword(key.get(), u"LongValueName", 7), ERROR_SUCCESS);
  char16_t name[4];
  DWORD units = 4;
  EXPECT_EQ(RegEnumValueW(key.get(), 0, name, &units, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  char16_t wide[32];
  units = 32;
  BYTE data[2];
  DWORD size = sizeof data;
  EXPECT_EQ(RegEnumValueW(key.get(), 0, wide, &units, nullptr, nullptr, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  units = 32;
  DWORD type = 0;
  EXPECT_EQ(RegEnumValueW(key.get(), 0, wide, &units, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(wide, units), u"LongValueName");
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size, 4u);
  units = 32;
  EXPECT_EQ(RegEnumValueW(key.get(), 1, wide, &units, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryApi, SubKeysEnumerateInCaseInsensitiveOrder) {
  for (const char16_t* name : {u"beta", u"Alpha", u"GAMMA", u"alphabet"}) Key child(Create(std::u16string(u"Enum\\") + name));
  Key key(Create(u"Enum"));
  std::vector<std::u16string> names;
  for (DWORD index = 0;; ++index) {
    char16_t name[16];
    DWORD units = 16;
    FILETIME written{};
    const LSTATUS status = RegEnumKeyExW(key.get(), index, name, &units, nullptr, nullptr, nullptr, &written);
    if (status == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(status, ERROR_SUCCESS);
    EXPECT_NE(written.dwHighDateTime, 0u);
    names.emplace_back(name, units);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Alpha", u"alphabet", u"beta", u"GAMMA"}));

  char16_t tiny[5];
  DWORD units = 5;  // "Alpha" needs 6 with its terminator
  EXPECT_EQ(RegEnumKeyExW(key.get(), 0, tiny, &units, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
}

TEST_F(RegistryApi, QueryInfoCountsAndMeasures) {
  Key key(Create(u"Info"));
  Key a(Create(u"Info\\Short"));
  Key b(Create(u"Info\\MuchLongerName"));
  ASSERT_EQ(SetDword(key.get(), u"V", 1), ERROR_SUCCESS);
  const BYTE blob[300] = {};
  ASSERT_EQ(RegSetValueExW(key.get(), u"LongerValueName", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxValue = 0;
  FILETIME written{};
  ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values,
                             &maxValueName, &maxValue, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 2u);
  EXPECT_EQ(maxSubKey, 14u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxValueName, 15u);
  EXPECT_EQ(maxValue, 300u);
  EXPECT_NE(written.dwHighDateTime, 0u);
}

TEST_F(RegistryApi, DeleteKeyRefusesAKeyWithSubKeys) {
  Key child(Create(u"Parent\\Child"));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Parent"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Parent\\Child"));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"PARENT\\child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Parent"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Parent"));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Parent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);  // a root stays
}

TEST_F(RegistryApi, AHandleToADeletedKeyReportsIt) {
  Key child(Create(u"Doomed"));
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Doomed"), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(child.get(), u"X", 1), ERROR_KEY_DELETED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyExW(child.get(), u"Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_KEY_DELETED);
  // A key created again under the same name is a different key.
  Key reborn(Create(u"Doomed"));
  EXPECT_EQ(SetDword(child.get(), u"X", 1), ERROR_KEY_DELETED);
}

TEST_F(RegistryApi, DeleteTreeRemovesEverythingBelow) {
  Key deep(Create(u"Tree\\A\\B\\C"));
  Key side(Create(u"Tree\\D"));
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, u"Tree\\A\\B", u"v", u"x"), ERROR_SUCCESS);
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, u"Tree", u"top", u"y"), ERROR_SUCCESS);
  Key tree;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Tree", 0, KEY_ALL_ACCESS, tree.out()), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteTreeW(tree.get(), nullptr), ERROR_SUCCESS);  // empties, keeps the key
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Tree"));
  EXPECT_TRUE(SubTree(HKEY_CURRENT_USER, u"Tree").empty());
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Tree", u"top"), std::nullopt);

  Key again(Create(u"Tree\\A\\B"));
  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"tree"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Tree"));
  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Tree"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, ReadOnlyHandlesCannotWrite) {
  Key created(Create(u"ReadOnly"));
  Key readOnly;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ReadOnly", 0, KEY_READ, readOnly.out()), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(readOnly.get(), u"X", 1), ERROR_ACCESS_DENIED);
  Key writeOnly;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ReadOnly", 0, KEY_SET_VALUE, writeOnly.out()), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(writeOnly.get(), u"X", 1), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(writeOnly.get(), u"X", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryApi, UnknownAndClosedHandlesAreRefused) {
  int notAKey = 0;
  EXPECT_EQ(SetDword(reinterpret_cast<HKEY>(&notAKey), u"X", 1), ERROR_INVALID_HANDLE);
  HKEY key = Create(u"Closing");
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Closing"));
}

TEST_F(RegistryApi, AnsiFunctionsConvertNamesAndStrings) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Ansi\\Key", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char text[] = "plain text";
  ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Ansi\\Key", u"Name"), u"plain text");

  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "ANSI\\KEY", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD size = 0;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof text);
  char small[4];
  DWORD smallSize = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "name", nullptr, &type, reinterpret_cast<BYTE*>(small), &smallSize),
            ERROR_MORE_DATA);
  EXPECT_EQ(smallSize, sizeof text);
  char buffer[32] = {};
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key, "name", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
  EXPECT_STREQ(buffer, text);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  RegCloseKey(key);
}

}  // namespace
}  // namespace quillbox::test
