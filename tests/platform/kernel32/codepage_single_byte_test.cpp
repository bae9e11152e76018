// Code-page behaviour under a single-byte locale. The ANSI code page is fixed at first use, so
// this program sets the locale before anything converts text.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(CodePageSingleByte, LocaleNamesTheCodePage) { EXPECT_EQ(GetACP(), 28592u); }

TEST(CodePageSingleByte, BytesReadInTheCodePage) {
  const char bytes[] = "\xE8\xB9\xBE";  // c-caron, s-caron, z-caron in ISO-8859-2
  char16_t out[3];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, bytes, 3, out, 3), 3);
  EXPECT_EQ(out[0], 0x010D);
  EXPECT_EQ(out[1], 0x0161);
  EXPECT_EQ(out[2], 0x017E);
}

TEST(CodePageSingleByte, MissingCharacterBecomesQuestionMark) {
  const char16_t text[] = {u'A', 0x20AC, 0x010D};  // the euro sign is not in ISO-8859-2
  char out[3];
  BOOL used = FALSE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 3, out, 3, nullptr, &used), 3);
  EXPECT_EQ(out[0], 'A');
  EXPECT_EQ(out[1], '?');
  EXPECT_EQ(static_cast<unsigned char>(out[2]), 0xE8);
  EXPECT_TRUE(used);
}

TEST(CodePageSingleByte, CharUpperUpperCasesTheCodePagesLetters) {
  char text[] = "ab\xE8\xB9";  // a b c-caron s-caron
  CharUpperA(text);
  EXPECT_STREQ(text, "AB\xC8\xA9");
}

TEST(CodePageSingleByte, Utf8StaysUtf8) {
  char16_t out[1];
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC4\x8D", 2, out, 1), 1);
  EXPECT_EQ(out[0], 0x010D);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("LC_ALL", "sl_SI.ISO-8859-2", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
