#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Guid, FreshGuidsAreVersion4AndDiffer) {
  GUID a{}, b{};
  ASSERT_EQ(CoCreateGuid(&a), S_OK);
  ASSERT_EQ(CoCreateGuid(&b), S_OK);
  EXPECT_FALSE(IsEqualGUID(a, b));
  EXPECT_EQ(a.Data3 >> 12, 4);
  EXPECT_EQ(a.Data4[0] & 0xC0, 0x80);
}

TEST(Guid, TextFormIsBracedUpperCase) {
  const GUID guid = {0x2A426405, 0xE493, 0x4525, {0x83, 0x5C, 0xA7, 0xB2, 0xDE, 0xFE, 0x8C, 0xC8}};
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromIID(guid, &text), S_OK);
  EXPECT_EQ(std::u16string(text), u"{2A426405-E493-4525-835C-A7B2DEFE8CC8}");
  GUID parsed{};
  EXPECT_EQ(IIDFromString(text, &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, guid));
  CoTaskMemFree(text);
}

TEST(Guid, StringFromGuid2NeedsRoomForTerminator) {
  OLECHAR text[39];
  GUID guid{};
  EXPECT_EQ(StringFromGUID2(guid, text, 38), 0);
  EXPECT_EQ(StringFromGUID2(guid, text, 39), 39);
}

TEST(Guid, MalformedTextIsRefused) {
  GUID parsed{};
  EXPECT_EQ(IIDFromString(u"{2A426405-E493-4525-835C-A7B2DEFE8CC}", &parsed), CO_E_IIDSTRING);
  EXPECT_EQ(IIDFromString(u"2A426405-E493-4525-835C-A7B2DEFE8CC8", &parsed), CO_E_IIDSTRING);
}

}  // namespace
