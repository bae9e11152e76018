// Documents and results in encodings other than UTF-8: whatever their size and however many bytes
// a character takes in UTF-8, every character comes back, or the call fails.
#include "hostile/scripted_signature.h"
#include "hostile/signer_store.h"
#include "hostile/texts.h"

namespace quillbox::test {
namespace {

constexpr char16_t kEuro = 0x20AC;  // one byte in windows-1252, three in UTF-8

std::size_t Count(std::u16string_view text, char16_t unit) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), unit)); }

class Encodings : public ScriptedSignature {};

TEST_F(Encodings, ASignedWindows1252DocumentKeepsEveryCharacter) {
  constexpr std::size_t kEuros = 300'000;
  UseSigner();
  const std::u16string document =
      u"<?xml version='1.0' encoding='windows-1252'?><a>" + std::u16string(kEuros, kEuro) + u"</a>";
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  ASSERT_TRUE(Sign()) << ErrorNo();
  const std::u16string signedText = Text(u"XmlDoc");
  EXPECT_EQ(Count(signedText, kEuro), kEuros);
  EXPECT_TRUE(signedText.starts_with(u"<?xml version=\"1.0\" encoding=\"windows-1252\"?>")) << ToUtf8(signedText.substr(0, 60));
  EXPECT_TRUE(signedText.ends_with(u"</Signature></a>\n"));
  ExpectSignedBySigner(ToUtf8(signedText), "windows-1252");
}

TEST_F(Encodings, AnEncodingNameOnlyLooselyMatchedIsRefusedRatherThanWrittenLossily) {
  // ICU, behind libxml2, takes these for windows-1250 and writes characters the code page lacks
  // as nothing or as broken markup; iconv knows no such names.
  UseSigner();
  ASSERT_EQ(PutText(u"UserName", u"Ja\u65E5\u672C"), S_OK);
  for (const char16_t* name : {u"windows1250", u"window-s1250"}) {
    const std::u16string document = u"<?xml version='1.0' encoding='" + std::u16string(name) + u"'?><a>\u010D</a>";
    ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
    ExpectSignFails(13, document);
  }
  // The name as iconv knows it signs, and every character of the user name survives.
  const std::string signedText = SignAdvanced(u"<?xml version='1.0' encoding='windows-1250'?><a>\u010D</a>");
  // The code page has neither character: both come back as references, none lost.
  EXPECT_NE(signedText.find("<UserName>Ja&#26085;&#26412;</UserName>"), std::string::npos);
  ExpectSignedBySigner(signedText, "windows-1250");
}

TEST_F(Encodings, ATransformResultInWindows1252KeepsEveryCharacter) {
  constexpr std::size_t kEuros = 300'000;
  ASSERT_EQ(PutText(u"XmlDoc", u"<a>" + std::u16string(kEuros, kEuro) + u"</a>"), S_OK);
  const std::u16string result = TransformText(
      u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
      u"<xsl:output encoding='windows-1252'/><xsl:template match='/'><r><xsl:value-of select='a'/></r></xsl:template>"
      u"</xsl:stylesheet>");
  EXPECT_EQ(ErrorNo(), 0);
  EXPECT_EQ(result, u"<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<r>" + std::u16string(kEuros, kEuro) + u"</r>\n");
}

TEST_F(Encodings, ALargeUtf16ResultDecodesAcrossEveryPieceBoundary) {
  // Non-BMP characters (four bytes in UTF-16) at every alignment, over several megabytes of output.
  std::u16string text;
  for (int i = 0; text.size() < (3u << 20); ++i) {
    text += u"ab\U0001F600";
    if (i % 3 == 0) text += u'c';
    if (i % 5 == 0) text += u"\u010D";
  }
  ASSERT_EQ(PutText(u"XmlDoc", u"<a>" + text + u"</a>"), S_OK);
  const std::u16string result = TransformText(
      u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
      u"<xsl:output encoding='UTF-16'/><xsl:template match='/'><r><xsl:value-of select='a'/></r></xsl:template>"
      u"</xsl:stylesheet>");
  EXPECT_EQ(ErrorNo(), 0);
  const std::u16string expected = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<r>" + text + u"</r>\n";
  EXPECT_EQ(result.size(), expected.size());
  EXPECT_TRUE(result == expected) << "the result differs from the document's text";
}

}  // namespace
}  // namespace quillbox::test
