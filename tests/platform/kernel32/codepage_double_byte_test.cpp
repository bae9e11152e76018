// Code-page behaviour under a double-byte locale (Shift_JIS, code page 932). The ANSI code page is
// fixed at first use, so this program sets the locale before anything converts text.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(CodePageDoubleByte, LocaleNamesCodePage932) { EXPECT_EQ(GetACP(), 932u); }

TEST(CodePageDoubleByte, BackslashAndTildeAreWindowsOwn) {
  const char bytes[] = "\\~\x82\xA0";  // backslash, tilde, hiragana a
  char16_t out[3];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, bytes, 4, out, 3), 3);
  EXPECT_EQ(out[0], u'\\');
  EXPECT_EQ(out[1], u'~');
  EXPECT_EQ(out[2], 0x3042);
  const char16_t back[] = {u'\\', u'~'};
  char narrow[2];
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, back, 2, narrow, 2, nullptr, nullptr), 2);
  EXPECT_EQ(std::string(narrow, 2), "\\~");
}

TEST(CodePageDoubleByte, CharUpperLeavesTrailBytesAlone) {
  // 82 61 and 82 81 are single full-width characters whose trail bytes are the codes of 'a' and
  // of nothing; only the lone ASCII letters change.
  char text[] = "a\x82\x61z\x82\x81q";
  EXPECT_EQ(CharUpperA(text), text);
  EXPECT_EQ(std::string(text), "A\x82\x61Z\x82\x81Q");
  char buffer[] = {'\x82', 'a', 'b'};
  EXPECT_EQ(CharUpperBuffA(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "\x82\x61" "B");
}

}  // namespace

int main(int argc, char** argv) {
  setenv("LC_ALL", "ja_JP.SJIS", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
