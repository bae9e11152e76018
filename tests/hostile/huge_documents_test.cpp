// Documents, stylesheets and results of a gibibyte and more, through the registered module as a
// page's script hands them over. Each call either fails with the error of its parse or write
// step, holding no more than a few megabytes beyond the texts the caller gave it, or succeeds;
// XmlDoc stays exactly as it was after every failure.
//
// These tests need gigabytes of memory and run alone (RUN_SERIAL).
#include "xml/xml_text.h"
#include "hostile/huge_text.h"
#include "hostile/scripted_signature.h"

namespace quillbox::test {
namespace {

constexpr std::size_t kGibi = std::size_t{1} << 30;
// What a refused text may cost the call that refuses it: nothing proportional to the text.
constexpr std::size_t kRefusalBudget = std::size_t{64} << 20;

const std::u16string kCountComments =
    u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
    u"<xsl:template match='/'><r><xsl:value-of select='count(//comment())'/></r></xsl:template></xsl:stylesheet>";

std::u16string FromNumber(std::size_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

class HugeDocuments : public ScriptedSignature {
 protected:
  void SetUp() override {
    QUILLBOX_SKIP_UNDER_VALGRIND();
    ScriptedSignature::SetUp();
  }
  void TearDown() override {
    if (!UnderValgrind()) ScriptedSignature::TearDown();
  }
  // Puts the text into XmlDoc and lets go of the test's own copy. The object keeps one copy of
  // its own; the dispatch layer makes none on the way.
  void PutXmlDoc(const HugeText& text) {
    UniqueBstr document(text.Make());
    ASSERT_TRUE(document);
    PeakMemoryWatch watch;
    ASSERT_EQ(Put(u"XmlDoc", document.get()), S_OK);
    if (const std::optional<std::size_t> growth = watch.Growth()) {
      EXPECT_LT(*growth, text.Length() * sizeof(char16_t) + kRefusalBudget);
    }
  }
  // Sign and Transform both refuse XmlDoc with 13, cheaply, and leave it as it was.
  void ExpectDocumentRefused(const HugeText& text) {
    UseSigner();
    {
      PeakMemoryWatch watch;
      EXPECT_FALSE(Sign());
      ExpectCheap(watch);
    }
    EXPECT_EQ(ErrorNo(), 13);
    EXPECT_EQ(ErrorStr(), u"ERR_PARSING_XML");
    ExpectXmlDoc(text);
    {
      PeakMemoryWatch watch;
      EXPECT_EQ(TransformText(kCountComments), u"");
      ExpectCheap(watch);
    }
    EXPECT_EQ(ErrorNo(), 13);
    ExpectXmlDoc(text);
  }
  void ExpectXmlDoc(const HugeText& text) {
    const UniqueBstr now = Get(u"XmlDoc");
    EXPECT_TRUE(text.Matches(now.get()));
  }
  static void ExpectCheap(const PeakMemoryWatch& watch) {
    if (const std::optional<std::size_t> growth = watch.Growth()) {
      EXPECT_LT(*growth, kRefusalBudget);
    }
  }
};

TEST_F(HugeDocuments, AGibibyteDocumentIsAParseErrorThatCostsNothing) {
  const HugeText text{u"<a>", u"x", kGibi - 7, u"</a>"};
  ASSERT_EQ(text.Length(), kGibi);
  PutXmlDoc(text);
  ExpectDocumentRefused(text);
}

TEST_F(HugeDocuments, AGibiCharacterDocumentOfThreeByteCharactersIsAParseError) {
  // Its UTF-8 form, three gibibytes, is beyond any int length: refused, never wrapped.
  const HugeText text{u"<a>", u"\u20AC", kGibi, u"</a>"};
  PutXmlDoc(text);
  ExpectDocumentRefused(text);
}

TEST_F(HugeDocuments, AGibibyteOfSmallElementsIsRefusedBeforeItIsParsed) {
  // Parsed, these few hundred million elements would take tens of gigabytes of tree.
  const HugeText text{u"<a>", u"<\u4E00/>", kGibi / 6, u"</a>"};  // six bytes of UTF-8 each
  PutXmlDoc(text);
  ExpectDocumentRefused(text);
}

TEST_F(HugeDocuments, AGibibyteStylesheetIsAParseError) {
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  const HugeText stylesheet{u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>",
                            u" ", kGibi, u"</xsl:stylesheet>"};
  UniqueBstr xsl(stylesheet.Make());
  ASSERT_TRUE(xsl);
  PeakMemoryWatch watch;
  const UniqueBstr result = Transform(xsl.get());
  ExpectCheap(watch);
  EXPECT_EQ(result.view(), u"");
  EXPECT_EQ(ErrorNo(), 37);
  EXPECT_EQ(ErrorStr(), u"ERR_PARSING_SCHEMA_XML");
  EXPECT_EQ(Text(u"XmlDoc"), u"<a/>");
}

TEST_F(HugeDocuments, TheLongestParsedDocumentSignsAndOneByteMoreDoesNot) {
  // Comments of a mebibyte each: cheap to parse, and the signature covers none of them.
  const std::u16string comment = u"<!--" + std::u16string((1 << 20) - 7, u'c') + u"-->";
  const std::size_t comments = (kLongestParsedXml - 64) / comment.size();
  const std::u16string head = u"<a>";
  std::u16string tail = u"</a>";
  const std::size_t fill = kLongestParsedXml - head.size() - comment.size() * comments - tail.size();
  tail = std::u16string(fill, u' ') + tail;
  const HugeText text{head, comment, comments, tail};
  ASSERT_EQ(text.Length(), kLongestParsedXml);
  PutXmlDoc(text);
  EXPECT_EQ(TransformText(kCountComments), u"<?xml version=\"1.0\"?>\n<r>" + FromNumber(comments) + u"</r>\n");
  EXPECT_EQ(ErrorNo(), 0);
  UseSigner();
  EXPECT_TRUE(Sign()) << ErrorNo();
  const UniqueBstr signedText = Get(u"XmlDoc");
  ASSERT_TRUE(signedText);
  EXPECT_GT(SysStringLen(signedText.get()), kLongestParsedXml);
  EXPECT_TRUE(signedText.view().ends_with(u"</Signature></a>\n"));

  const HugeText longer{head, comment, comments, u" " + tail};
  PutXmlDoc(longer);
  ExpectDocumentRefused(longer);
}

TEST_F(HugeDocuments, AResultLongerThanTheComponentHandsBackFailsTheTransform) {
  // A small document and stylesheet whose result would be 1.1 GB of text (str:padding makes at
  // most 100,000 characters at a time).
  std::u16string items;
  for (int i = 0; i < 11'000; ++i) items += u"<i/>";
  ASSERT_EQ(PutText(u"XmlDoc", u"<a>" + items + u"</a>"), S_OK);
  const std::u16string stylesheet =
      u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform' "
      u"xmlns:str='http://exslt.org/strings' extension-element-prefixes='str'>"
      u"<xsl:template match='/'><r><xsl:for-each select='a/i'><xsl:value-of select=\"str:padding(100000, 'x')\"/>"
      u"</xsl:for-each></r></xsl:template></xsl:stylesheet>";
  EXPECT_EQ(TransformText(stylesheet), u"");
  EXPECT_EQ(ErrorNo(), 39);
  EXPECT_EQ(ErrorStr(), u"ERR_TRANSFORMING_XML");
}

}  // namespace
}  // namespace quillbox::test
