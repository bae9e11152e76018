#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include <cstring>

namespace {

TEST(Bstr, NullSourceGivesNull) { EXPECT_EQ(SysAllocString(nullptr), nullptr); }

TEST(Bstr, LengthPrefixAndTerminator) {
  BSTR text = SysAllocString(u"abc");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 3u);
  EXPECT_EQ(SysStringByteLen(text), 6u);
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<char*>(text) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(text[3], 0);
  SysFreeString(text);
}

TEST(Bstr, EmptyIsNotNull) {
  BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);
  SysFreeString(empty);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(Bstr, AllocStringStopsAtFirstZero) {
  const char16_t text[] = {u'a', u'b', 0, u'c', 0};
  BSTR copy = SysAllocString(text);
  EXPECT_EQ(SysStringLen(copy), 2u);
  SysFreeString(copy);
}

TEST(Bstr, AllocStringLenKeepsEmbeddedZeros) {
  const char16_t text[] = {u'a', 0, u'c'};
  BSTR copy = SysAllocStringLen(text, 3);
  ASSERT_EQ(SysStringLen(copy), 3u);
  EXPECT_EQ(copy[1], 0);
  EXPECT_EQ(copy[2], u'c');
  EXPECT_EQ(copy[3], 0);
  SysFreeString(copy);
}

TEST(Bstr, AllocStringLenWithoutSourceReservesUnits) {
  BSTR buffer = SysAllocStringLen(nullptr, 5);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(SysStringLen(buffer), 5u);
  EXPECT_EQ(buffer[5], 0);
  for (int i = 0; i < 5; ++i) buffer[i] = u'x';  // all five units are writable
  SysFreeString(buffer);
}

TEST(Bstr, ImpossibleLengthFailsCleanly) { EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFFu), nullptr); }

TEST(Bstr, ByteLengthKeepsOddCounts) {
  BSTR bytes = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(SysStringByteLen(bytes), 3u);
  EXPECT_EQ(SysStringLen(bytes), 1u);
  SysFreeString(bytes);
}

TEST(Bstr, FreeNullIsHarmless) { SysFreeString(nullptr); SUCCEED(); }

TEST(Bstr, ReAllocReplaces) {
  BSTR text = SysAllocString(u"old");
  ASSERT_TRUE(SysReAllocString(&text, u"newer"));
  EXPECT_EQ(SysStringLen(text), 5u);
  EXPECT_EQ(std::u16string_view(text), u"newer");
  SysFreeString(text);
}

// Resizing keeps the string's own units when it is its own source: cut short from its start, moved
// down from a later unit, or (with no source) kept as far as they still fit. Each result is
// terminated at its new length and tells it.
TEST(Bstr, ReAllocFromItselfCutsMovesAndKeeps) {
  BSTR text = SysAllocString(u"signature");
  ASSERT_TRUE(SysReAllocStringLen(&text, text, 4));
  EXPECT_EQ(SysStringLen(text), 4u);
  EXPECT_EQ(std::u16string_view(text), u"sign");

  ASSERT_TRUE(SysReAllocStringLen(&text, text + 2, 2));
  EXPECT_EQ(std::u16string(text, SysStringLen(text)), u"gn");
  EXPECT_EQ(text[2], u'\0');

  ASSERT_TRUE(SysReAllocStringLen(&text, nullptr, 1));
  EXPECT_EQ(std::u16string(text, SysStringLen(text)), u"g");
  ASSERT_TRUE(SysReAllocStringLen(&text, nullptr, 3));
  EXPECT_EQ(SysStringLen(text), 3u);
  EXPECT_EQ(text[0], u'g');
  EXPECT_EQ(text[3], u'\0');
  SysFreeString(text);

  BSTR none = nullptr;
  ASSERT_TRUE(SysReAllocStringLen(&none, u"abc", 2));
  EXPECT_EQ(std::u16string_view(none), u"ab");
  SysFreeString(none);
  EXPECT_FALSE(SysReAllocStringLen(nullptr, u"abc", 2));
}

TEST(Bstr, ReAllocToAnImpossibleLengthKeepsTheOldString) {
  BSTR text = SysAllocString(u"kept");
  EXPECT_FALSE(SysReAllocStringLen(&text, nullptr, 0x7FFFFFFFu));
  EXPECT_EQ(std::u16string_view(text), u"kept");
  SysFreeString(text);
}

}  // namespace
