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
  EXPECT_TRUE(IsXmlText(""));
  EXPECT_TRUE(IsXmlText("tab\tline\ncarriage\r"));
  EXPECT_TRUE(IsXmlText("\xC4\x8D \xE2\x82\xAC \xEF\xBF\xBD \xF0\x9F\x98\x80"));  // up to U+FFFD and beyond U+FFFF
}

TEST(PropertyText, XmlTextRefusesControlsAndNonCharacters) {
  EXPECT_FALSE(IsXmlText(std::string_view("a\0b", 3)));
  EXPECT_FALSE(IsXmlText("a\x01" "b"));
  EXPECT_FALSE(IsXmlText("\x1F"));
  EXPECT_FALSE(IsXmlText("\xEF\xBF\xBE"));  // U+FFFE
  EXPECT_FALSE(IsXmlText("\xEF\xBF\xBF"));  // U+FFFF
  EXPECT_FALSE(IsXmlText("\xED\xA0\x80"));  // a surrogate, encoded alone
  EXPECT_FALSE(IsXmlText("\xC4"));          // cut short
  EXPECT_FALSE(IsXmlText("\xC0\x80"));      // overlong
}

}  // namespace
}  // namespace quillbox
