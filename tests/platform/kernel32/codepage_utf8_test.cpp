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

namespace {

// Long ASCII runs between multi-byte characters, as in a form document.
std::string MixedDocument() {
  std::string text;
  for (int i = 0; i < 50; ++i) text += "<Name>\xC4\x8C" "ebela\xC5\xBE " + std::to_string(i) + "</Name>\n";
  return text + "\xF0\x9F\x98\x80" + std::string(300, 'x');
}

}  // namespace

TEST(CodePageUtf8, AsciiRunsAndMultiByteCharactersRoundTrip) {
  const std::string bytes = MixedDocument();
  const std::u16string wide = ToWide(CP_UTF8, bytes);
  std::u16string expected;
  for (int i = 0; i < 50; ++i) {
    const std::string digits = std::to_string(i);
    expected += u"<Name>\u010Cebela\u017E " + std::u16string(digits.begin(), digits.end()) + u"</Name>\n";
  }
  expected += u"\U0001F600" + std::u16string(300, u'x');
  EXPECT_EQ(wide, expected);
  EXPECT_EQ(ToNarrow(CP_UTF8, wide), bytes);
}

TEST(CodePageUtf8, BufferOneShortInsideAnAsciiRunFails) {
  const std::string bytes = "\xC4\x8D" + std::string(40, 'a');
  std::u16string out(41, u'?');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), 40), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(out[40], u'?');  // nothing written past the given size
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), 41), 41);

  const std::u16string wide = u"\u010D" + std::u16string(40, u'a');
  std::string narrow(43, '?');
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), 41, nullptr,
                                nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(narrow[41], '?');
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), 42, nullptr,
                                nullptr),
            42);
  EXPECT_EQ(narrow.substr(0, 42), "\xC4\x8D" + std::string(40, 'a'));
}

TEST(CodePageUtf8, InvalidByteRightAfterAnAsciiRunIsReplaced) {
  EXPECT_EQ(ToWide(CP_UTF8, "abc\x80" "def\xC4"), u"abc\uFFFDdef\uFFFD");
  const std::u16string loneSurrogate = {u'a', u'b', 0xD800, u'c'};
  EXPECT_EQ(ToNarrow(CP_UTF8, loneSurrogate), "ab\xEF\xBF\xBD" "c");
}
