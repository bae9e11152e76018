// Documents of tens of megabytes, as real forms with attachments or long free text make them: they
// sign and transform, up to the limits the parser keeps on one run of text.
#include "hostile/scripted_signature.h"
#include "hostile/signer_store.h"
#include "hostile/texts.h"

namespace quillbox::test {
namespace {

using LargeDocuments = ScriptedSignature;

TEST_F(LargeDocuments, FormsOfTensOfMegabytesSign) {
  std::u16string document = u"<forms>";
  while (document.size() < (24u << 20))
    document += u"<form id='f'><name>\u010Cebelar \u017Dan</name><note>a &amp; b</note></form>\n";
  document += u"</forms>";
  const std::string signedText = SignAdvanced(document);
  EXPECT_NE(signedText.find("</form>\n<Signature"), std::string::npos);
  ExpectSignedBySigner(signedText);
}

TEST_F(LargeDocuments, TextInRunsOfThousandsOfCharactersSignsAndTransforms) {
  // Twenty megabytes in paragraphs of a few thousand characters, and one run of twenty megabytes
  // of ASCII.
  std::u16string paragraphs = u"<doc>";
  while (paragraphs.size() < (20u << 20)) paragraphs += u"<p>" + std::u16string(4000, u'\u010D') + u"</p>\n";
  paragraphs += u"</doc>";
  const std::u16string run = u"<doc><p>" + std::u16string(20 << 20, u'x') + u"</p></doc>";
  const std::u16string countParagraphs =
      Stylesheet(u"<xsl:template match='/'><n><xsl:value-of select='count(//p)'/></n></xsl:template>");
  for (const std::u16string* document : std::initializer_list<const std::u16string*>{&paragraphs, &run}) {
    ASSERT_EQ(PutText(u"XmlDoc", *document), S_OK);
    EXPECT_TRUE(TransformText(countParagraphs).starts_with(u"<?xml version=\"1.0\"?>\n<n>"));
    EXPECT_EQ(ErrorNo(), 0);
    ExpectSignedBySigner(SignAdvanced(*document));
  }
}

TEST_F(LargeDocuments, ALongerRunOfNonAsciiTextIsAParseError) {
  UseSigner();
  const std::u16string document = u"<a>" + std::u16string(kLongestTextRun / 2 + 1, u'\u00E9') + u"</a>";
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  ExpectSignFails(13, document);
  ExpectTransformFails(kCopyDocument, 13, document);
}

}  // namespace
}  // namespace quillbox::test
