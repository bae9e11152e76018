#include "host/text.h"

#include <gtest/gtest.h>

namespace quillbox::host {
namespace {

TEST(HostText, Utf8AndUtf16RoundTrip) {
  const std::string utf8 = "\xC5\xBD" "iga \xC4\x8C" "eba\xC5\xA1" "ek \xF0\x9F\x98\x80";  // Žiga Čebašek 😀
  const std::u16string wide = Utf8ToUtf16(utf8);
  EXPECT_EQ(wide, u"Žiga Čebašek \U0001F600");
  EXPECT_EQ(Utf16ToUtf8(wide), utf8);
}

TEST(HostText, DuktapeBytesKeepNulAndCountUtf16Units) {
  const std::u16string text(u"a\0b\U0001F600", 5);
  const std::string bytes = Utf16ToDuk(text);
  // Each surrogate is its own three-byte sequence, as Duktape stores a string from script source.
  EXPECT_EQ(bytes.size(), 1u + 1u + 1u + 3u + 3u);
  EXPECT_EQ(DukToUtf16(bytes), text);
}

TEST(HostText, DuktapeBytesAcceptFourByteUtf8) {
  EXPECT_EQ(DukToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(HostText, MalformedDuktapeBytesBecomeReplacementCharacters) {
  EXPECT_EQ(DukToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(DukToUtf16("a\xE2\x82"), u"a\uFFFD");  // truncated at the end
  EXPECT_EQ(DukToUtf16("\xC3(x"), u"\uFFFD(x");    // a lead byte without its continuation
}

TEST(HostText, BstrOwnsAndKeepsItsWholeLength) {
  auto text = UniqueBstr::Copy(std::u16string_view(u"x\0y", 3));
  EXPECT_EQ(SysStringLen(text.get()), 3u);
  EXPECT_EQ(text.length(), 3u);
  EXPECT_EQ(text.view(), std::u16string_view(u"x\0y", 3));
  UniqueBstr moved = std::move(text);
  EXPECT_EQ(moved.view(), std::u16string_view(u"x\0y", 3));
  EXPECT_EQ(text.get(), nullptr);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  EXPECT_EQ(BstrView(nullptr), u"");
}

}  // namespace
}  // namespace quillbox::host
