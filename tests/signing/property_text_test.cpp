#include "signing/property_text.h"

#include <gtest/gtest.h>

namespace quillbox {
namespace {

TEST(PropertyText, BareAmpersandsBecomeTheirReference) {
  EXPECT_EQ(EscapeBareAmpersands("Smith & Sons"), "Smith &amp; Sons");
  EXPECT_EQ(EscapeBareAmpersands("trailing &"), "trailing &amp;");
  EXPECT_EQ(EscapeBareAmpersands("&&"), "&amp;&amp;");
  EXPECT_EQ(EscapeBareAmpersands("&;"), "&amp;;");
  EXPECT_EQ(EscapeBareAmpersands("&#;"), "&amp;#;");
  EXPECT_EQ(EscapeBareAmpersands("&#x;"), "&amp;#x;");
  EXPECT_EQ(EscapeBareAmpersands("&#12"), "&amp;#12");
}

TEST(PropertyText, ReferencesThatResolveStay) {
  EXPECT_EQ(EscapeBareAmpersands("a &amp; b &lt;&gt;&quot;&apos;"), "a &amp; b &lt;&gt;&quot;&apos;");
  EXPECT_EQ(EscapeBareAmpersands("&#233;t&#xE9;&#x1F600;"), "&#233;t&#xE9;&#x1F600;");
  EXPECT_EQ(EscapeBareAmpersands("plain text, no references"), "plain text, no references");
  EXPECT_EQ(EscapeBareAmpersands(""), "");
}

TEST(PropertyText, ReferencesToNoCharacterOrToOtherEntitiesStayLiteral) {
  // Not XML characters: xmlNewChild would drop them and, for a surrogate, all that follows.
  EXPECT_EQ(EscapeBareAmpersands("&#0;x"), "&amp;#0;x");
  EXPECT_EQ(EscapeBareAmpersands("&#xD800;y"), "&amp;#xD800;y");
  EXPECT_EQ(EscapeBareAmpersands("&#x110000;"), "&amp;#x110000;");
  EXPECT_EQ(EscapeBareAmpersands("&#99999999999;z"), "&amp;#99999999999;z");
  EXPECT_EQ(EscapeBareAmpersands("&#X41;"), "&amp;#X41;");  // the hexadecimal marker is a lower-case x
  // Other entity names would become entity-reference nodes.
  EXPECT_EQ(EscapeBareAmpersands("A&B;C"), "A&amp;B;C");
  EXPECT_EQ(EscapeBareAmpersands("&AMP;"), "&amp;AMP;");
}

TEST(PropertyText, MultiByteTextPassesThrough) {
  EXPECT_EQ(EscapeBareAmpersands("\xC4\x8D & \xE2\x82\xAC"), "\xC4\x8D &amp; \xE2\x82\xAC");
}

TEST(PropertyText, XmlTextAllowsEveryCharacterAnXmlDocumentCanHold) {
  EXPECT_TRUE(IsXmlCharacterData(""));
  EXPECT_TRUE(IsXmlCharacterData("tab\tline\ncarriage\r"));
  EXPECT_TRUE(IsXmlCharacterData("\xC4\x8D \xE2\x82\xAC \xEF\xBF\xBD \xF0\x9F\x98\x80"));  // up to U+FFFD and beyond U+FFFF
}

TEST(PropertyText, XmlTextRefusesControlsAndNonCharacters) {
  EXPECT_FALSE(IsXmlCharacterData(std::string_view("a\0b", 3)));
  EXPECT_FALSE(IsXmlCharacterData("a\x01" "b"));
  EXPECT_FALSE(IsXmlCharacterData("\x1F"));
  EXPECT_FALSE(IsXmlCharacterData("\xEF\xBF\xBE"));  // U+FFFE
  EXPECT_FALSE(IsXmlCharacterData("\xEF\xBF\xBF"));  // U+FFFF
  EXPECT_FALSE(IsXmlCharacterData("\xED\xA0\x80"));  // a surrogate, encoded alone
  EXPECT_FALSE(IsXmlCharacterData("\xC4"));          // cut short
  EXPECT_FALSE(IsXmlCharacterData("\xC0\x80"));      // overlong
}

TEST(PropertyText, CharacterDataIsWhatXmlCanCarry) {
  EXPECT_TRUE(IsXmlCharacterData(""));
  EXPECT_TRUE(IsXmlCharacterData("tab\there, line\nand return\r"));
  EXPECT_TRUE(IsXmlCharacterData("\xC4\x8D \xE4\xB8\xAD \xEE\x80\x80 \xEF\xBF\xBD \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBD"));
  EXPECT_TRUE(IsXmlCharacterData("&#1;"));  // a reference is text here; it stays literal when written
  EXPECT_TRUE(IsXmlCharacterData("\x7F"));  // DEL is an XML character
  // Control characters, U+FFFE and U+FFFF, and a sequence cut off at the end are not.
  for (const char* text : {"\x01", "a\x08b", "\x1B[31m", "\x7F\x1F", "\xEF\xBF\xBE", "\xEF\xBF\xBF", "x\xC2"})
    EXPECT_FALSE(IsXmlCharacterData(text)) << text;
}

}  // namespace
}  // namespace quillbox
