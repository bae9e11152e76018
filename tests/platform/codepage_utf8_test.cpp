// Code-page behaviour under the default (UTF-8) locale of the test process.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::u16string ToWide(UINT cp, const std::string& bytes) {
  const int n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  EXPECT_EQ(MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n), n);
  return out;
}

std::string ToNarrow(UINT cp, const std::u16string& text) {
  const int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  EXPECT_EQ(WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr), n);
  return out;
}

TEST(CodePageUtf8, AnsiIsUtf8InTheCLocale) {
  // The test runs with whatever locale the environment has; CI runs it under C or C.UTF-8.
  const char* lcAll = std::getenv("LC_ALL");
  if (lcAll != nullptr && std::string(lcAll).find("8859") != std::string::npos) GTEST_SKIP();
  EXPECT_EQ(GetACP(), 65001u);
}

TEST(CodePageUtf8, RoundTripsEveryPlane) {
  const std::string bytes = "a\xC4\x8D\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, c-caron, euro, emoji
  const std::u16string wide = ToWide(CP_UTF8, bytes);
  EXPECT_EQ(wide, (std::u16string{u'a', 0x010D, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(ToNarrow(CP_UTF8, wide), bytes);
}

TEST(CodePageUtf8, SizeQueryCountsTerminatorOnlyWithMinusOne) {
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u010D", -1, nullptr, 0, nullptr, nullptr), 3);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u010D", 1, nullptr, 0, nullptr, nullptr), 2);
}

TEST(CodePageUtf8, SmallBufferFailsWithInsufficientBuffer) {
  char16_t out[2];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, out, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(CodePageUtf8, ZeroLengthAndNullSourceAreInvalid) {
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, nullptr, 0), 0);
}

TEST(CodePageUtf8, InvalidBytesBecomeReplacementCharacters) {
  // An overlong slash, a lone continuation byte, a truncated sequence, an encoded surrogate.
  EXPECT_EQ(ToWide(CP_UTF8, "\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD}));
  EXPECT_EQ(ToWide(CP_UTF8, "a\x80" "b"), (std::u16string{u'a', 0xFFFD, u'b'}));
  EXPECT_EQ(ToWide(CP_UTF8, "\xE2\x82"), (std::u16string{0xFFFD}));
  EXPECT_EQ(ToWide(CP_UTF8, "\xED\xA0\x80"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\x80", 1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePageUtf8, UnpairedSurrogateBecomesReplacementCharacter) {
  EXPECT_EQ(ToNarrow(CP_UTF8, std::u16string{u'a', 0xD800, u'b'}), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(ToNarrow(CP_UTF8, std::u16string{0xDC00}), "\xEF\xBF\xBD");
}

TEST(CodePageUtf8, DefaultCharacterIsRefusedForUtf8) {
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, nullptr, 0, "?", &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CodePageUtf8, CharUpperHandlesNonAsciiLetters) {
  char text[] = "0a1bff \xC4\x8D\xC5\xA1";  // c-caron, s-caron
  EXPECT_EQ(CharUpperA(text), text);
  EXPECT_STREQ(text, "0A1BFF \xC4\x8C\xC5\xA0");
}

TEST(CodePageUtf8, CharUpperSingleCharacterForm) {
  LPSTR upper = CharUpperA(reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>('q')));
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(upper), static_cast<ULONG_PTR>('Q'));
}

}  // namespace
