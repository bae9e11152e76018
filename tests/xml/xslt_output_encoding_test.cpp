// How quillbox transform finds the output encoding in a stylesheet and writes the result's
// characters in it.
#include "host/xml_file.h"
#include "host/xslt_output.h"

#include <gtest/gtest.h>

#include <string>

namespace quillbox::host {
namespace {

std::u16string Stylesheet(const std::u16string& body, const std::u16string& prefix = u"xsl") {
  return u"<" + prefix + u":stylesheet version='1.0' xmlns:" + prefix + u"='http://www.w3.org/1999/XSL/Transform'>" +
         body + u"</" + prefix + u":stylesheet>";
}

TEST(StylesheetOutputEncoding, IsTheLastXslOutputThatNamesOne) {
  EXPECT_EQ(StylesheetOutputEncoding(Stylesheet(u"")), "");
  EXPECT_EQ(StylesheetOutputEncoding(Stylesheet(u"<xsl:output method='text'/>")), "");
  EXPECT_EQ(StylesheetOutputEncoding(Stylesheet(u"<xsl:output encoding='ISO-8859-2'/>")), "ISO-8859-2");
  // Later xsl:output elements override what earlier ones named; one naming nothing overrides nothing.
  EXPECT_EQ(StylesheetOutputEncoding(Stylesheet(u"<xsl:output encoding='ISO-8859-2'/><xsl:output encoding='windows-1250'/>"
                                                u"<xsl:output indent='yes'/>")),
            "windows-1250");
  // The prefix is the author's; the namespace decides. xsl:transform is the same element.
  EXPECT_EQ(StylesheetOutputEncoding(Stylesheet(u"<x:output encoding='UTF-16'/>", u"x")), "UTF-16");
  EXPECT_EQ(StylesheetOutputEncoding(u"<xsl:transform version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                                     u"<xsl:output encoding='ISO-8859-1'/></xsl:transform>"),
            "ISO-8859-1");
}

TEST(StylesheetOutputEncoding, NamesNoneOutsideTopLevelXslOutput) {
  // An output element of another namespace, or an xsl:output inside a template, is not one.
  EXPECT_EQ(StylesheetOutputEncoding(Stylesheet(u"<o:output xmlns:o='urn:other' encoding='ISO-8859-2'/>")), "");
  EXPECT_EQ(StylesheetOutputEncoding(Stylesheet(u"<xsl:template match='/'><r><xsl:output encoding='ISO-8859-2'/></r></xsl:template>")), "");
  // A literal result element as the stylesheet has no xsl:output; a text that does not parse names none.
  EXPECT_EQ(StylesheetOutputEncoding(u"<r xsl:version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'/>"), "");
  EXPECT_EQ(StylesheetOutputEncoding(u"<xsl:stylesheet"), "");
}

TEST(EncodeXsltOutput, WritesTheBytesOfTheEncoding) {
  EXPECT_EQ(EncodeXsltOutput(u"\u010d\U0001F600", ""), "\xC4\x8D\xF0\x9F\x98\x80");
  EXPECT_EQ(EncodeXsltOutput(u"\u010d", "utf-8"), "\xC4\x8D");
  EXPECT_EQ(EncodeXsltOutput(u"\u0161\u010d", "windows-1250"), "\x9A\xE8");
  // libxml2's UTF-16 converter starts with a byte-order mark, as xsltproc's output does.
  EXPECT_EQ(EncodeXsltOutput(u"a\u010d", "UTF-16"), std::string("\xFF\xFE" "a\0\x0D\x01", 6));
  // A character the encoding lacks is a reference (the component's text holds none such).
  EXPECT_EQ(EncodeXsltOutput(u"a\u4E2D", "ISO-8859-1"), "a&#20013;");
  // Shift_JIS is code page 932 (0x5C the backslash), the yen sign a reference, as the component writes it.
  EXPECT_EQ(EncodeXsltOutput(u"\\~\u65e5\u00a5", "Shift_JIS"), "\\~\x93\xFA&#165;");
  EXPECT_THROW(EncodeXsltOutput(u"a", "x-no-such-encoding"), EncodingError);
}

}  // namespace
}  // namespace quillbox::host
