// Every xsl:output attribute, each output method and no xsl:output at all, on small documents of
// this project's own: Transform's text is xsltproc's output decoded from its output encoding, and
// `quillbox transform` writes xsltproc's bytes. Each case also checks the mark of the form it
// asks for, so that a serialiser that wrote every case alike could not pass.
#include "component/error_report.h"
#include "component/signature.h"
#include "host/command_runner.h"
#include "support/bstr_helpers.h"
#include "support/module_lock_audit.h"
#include "xml/transform_support.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace quillbox {
namespace {

using test::FromUtf8;
using test::ToUtf8;

constexpr char kDocument[] =
    "<?xml version='1.0' encoding='UTF-8'?>\n"
    "<doc><title>Hello &amp; more</title><p>\xC5\xA1\xC4\x8D\xC5\xBE \xE2\x82\xAC \xE4\xB8\xAD</p>"
    "<code>if (1 &lt; 2 &amp;&amp; true)</code><item>a</item><item>b</item></doc>\n";

std::string Stylesheet(const std::string& output, const std::string& body) {
  return "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'" +
         std::string(" xmlns:x='urn:x' exclude-result-prefixes='x'>") + output + "<xsl:template match='/'>" + body +
         "</xsl:template></xsl:stylesheet>";
}

const std::string kPage =
    "<html><head><title><xsl:value-of select='doc/title'/></title>"
    "<script>if (1 &lt; 2 &amp;&amp; true) {}</script></head>"
    "<body><p><xsl:value-of select='doc/p'/><br/><input type='checkbox' checked='checked'/></p></body></html>";
const std::string kTree =
    "<r><t><xsl:value-of select='doc/title'/></t><p><xsl:value-of select='doc/p'/></p>"
    "<c><xsl:value-of select='doc/code'/></c><xsl:copy-of select='doc/item'/></r>";
const std::string kText = "<xsl:value-of select='doc/title'/>|<xsl:value-of select='doc/p'/>|<xsl:value-of select='doc/code'/>";

struct OutputCase {
  const char* name;
  std::string stylesheet;
  std::vector<std::string> marks;  // each appears in xsltproc's bytes (and so in ours)
  std::vector<std::string> absent;  // none appears
};

// gtest would print the case's bytes, padding included.
void PrintTo(const OutputCase& c, std::ostream* out) { *out << c.name; }

std::vector<OutputCase> Cases() {
  return {
      {"no_output", Stylesheet("", kTree),
       {"<?xml version=\"1.0\"?>\n<r>", "\xC5\xA1\xC4\x8D\xC5\xBE", "Hello &amp; more"}, {"&#"}},
      {"xml_utf8", Stylesheet("<xsl:output method='xml' encoding='UTF-8'/>", kTree),
       {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "\xE4\xB8\xAD"}, {}},
      {"xml_latin2", Stylesheet("<xsl:output encoding='ISO-8859-2'/>", kTree),
       {"encoding=\"ISO-8859-2\"", "\xB9\xE8\xBE", "&#8364;", "&#20013;"}, {"\xC5"}},
      {"xml_utf16", Stylesheet("<xsl:output encoding='UTF-16'/>", kTree), {std::string("\xFF\xFE<\0?\0x\0m\0l\0", 12)}, {}},
      {"xml_indent", Stylesheet("<xsl:output indent='yes'/>", kTree), {"\n  <t>", "\n  <item>a</item>"}, {}},
      {"omit_declaration", Stylesheet("<xsl:output omit-xml-declaration='yes'/>", kTree), {}, {"<?xml"}},
      {"standalone_yes", Stylesheet("<xsl:output standalone='yes'/>", kTree), {" standalone=\"yes\"?>"}, {}},
      {"standalone_no", Stylesheet("<xsl:output standalone='no'/>", kTree), {" standalone=\"no\"?>"}, {}},
      {"doctype", Stylesheet("<xsl:output doctype-public='-//Q//DTD R//EN' doctype-system='r.dtd'/>", kTree),
       {"<!DOCTYPE r PUBLIC \"-//Q//DTD R//EN\" \"r.dtd\">"}, {}},
      {"doctype_system", Stylesheet("<xsl:output doctype-system='r.dtd'/>", kTree), {"<!DOCTYPE r SYSTEM \"r.dtd\">"}, {}},
      {"cdata_sections", Stylesheet("<xsl:output cdata-section-elements='c t'/>", kTree),
       {"<c><![CDATA[if (1 < 2 && true)]]></c>", "<t><![CDATA[Hello & more]]></t>"}, {}},
      {"text", Stylesheet("<xsl:output method='text'/>", kText),
       {"Hello & more|\xC5\xA1\xC4\x8D\xC5\xBE \xE2\x82\xAC \xE4\xB8\xAD|if (1 < 2 && true)"}, {"<?xml", "&amp;"}},
      {"text_windows_1250", Stylesheet("<xsl:output method='text' encoding='windows-1250'/>", kText),
       {"Hello & more|\x9A\xE8\x9E \x80 &#20013;|"}, {"<?xml"}},
      {"text_empty", Stylesheet("<xsl:output method='text'/>", ""), {}, {}},
      {"html", Stylesheet("<xsl:output method='html'/>", kPage),
       {"<br>", " checked>", "<script>if (1 < 2 && true) {}</script>", "charset=UTF-8", "\xC5\xA1"}, {"<?xml", "<br/>"}},
      {"html_latin1", Stylesheet("<xsl:output method='html' encoding='ISO-8859-1' indent='no'/>", kPage),
       {"charset=ISO-8859-1", "&#353;&#269;&#382; &#8364; &#20013;"}, {"\n<head>"}},
      {"html_by_root_element", Stylesheet("", kPage), {"<br>", "<meta http-equiv"}, {"<?xml"}},
      {"html_doctype", Stylesheet("<xsl:output method='html' doctype-public='-//W3C//DTD HTML 4.01//EN'/>", kPage),
       {"<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\">"}, {}},
      // libxslt knows no method "xhtml": it warns and writes XML, or HTML for an html root.
      {"xhtml_unprefixed", Stylesheet("<xsl:output method='xhtml'/>", kTree), {"<?xml version=\"1.0\"?>\n<r>"}, {}},
      {"xhtml_unprefixed_page", Stylesheet("<xsl:output method='xhtml'/>", kPage), {"<br>", "<meta http-equiv"}, {"<?xml"}},
      {"empty_result", Stylesheet("<xsl:output method='xml'/>", ""), {}, {}},
  };
}

class XslOutput : public test::ModuleLockAudit, public ::testing::WithParamInterface<OutputCase> {
 protected:
  host::test::World world_;
};

class XslOutputFailure : public test::ModuleLockAudit {
 protected:
  host::test::World world_;
};

TEST_P(XslOutput, AsXsltprocWritesIt) {
  const OutputCase& c = GetParam();
  world_.Write("doc.xml", kDocument);
  world_.Write("style.xsl", c.stylesheet);
  const host::test::Result reference = world_.Program("xsltproc", {world_.Path("style.xsl"), world_.Path("doc.xml")});
  ASSERT_EQ(reference.status, 0) << reference.err;
  for (const std::string& mark : c.marks) EXPECT_NE(reference.out.find(mark), std::string::npos) << mark << "\n" << reference.out;
  for (const std::string& mark : c.absent) EXPECT_EQ(reference.out.find(mark), std::string::npos) << mark << "\n" << reference.out;

  Signature object;
  object.put_XmlDoc(UniqueBstr::Copy(FromUtf8(kDocument)).get());
  const test::TransformOutcome outcome = test::RunTransform(object, FromUtf8(c.stylesheet));
  ClearErrorState();
  EXPECT_EQ(outcome.errorNo, 0);
  EXPECT_EQ(outcome.errorStr, std::nullopt);

  const host::test::Result command = world_.Quillbox(
      {"transform", "--xsl", world_.Path("style.xsl"), "-o", world_.Path("out"), world_.Path("doc.xml")});
  ASSERT_EQ(command.status, 0) << command.err;
  EXPECT_EQ(world_.Read("out"), reference.out);

  // Transform's text is xsltproc's, read in the output encoding.
  const std::optional<std::u16string> expected = test::XsltprocText(reference.out, world_.Path("style.xsl"));
  ASSERT_TRUE(expected);
  EXPECT_EQ(ToUtf8(outcome.tml.value_or(u"<null>")), ToUtf8(*expected));

  const host::test::Result toStdout = world_.Quillbox({"transform", "--xsl", world_.Path("style.xsl"), world_.Path("doc.xml")});
  ASSERT_EQ(toStdout.status, 0) << toStdout.err;
  EXPECT_EQ(toStdout.out, reference.out);
}

INSTANTIATE_TEST_SUITE_P(Methods, XslOutput, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<OutputCase>& info) { return std::string(info.param.name); });

// A method with a prefix libxslt does not write. For "x:xhtml" it builds an HTML tree and stops
// with an error, as xsltproc reports; any other prefixed method it refuses at once.
TEST_F(XslOutputFailure, PrefixedMethodsFailAsInXsltproc) {
  for (const char* method : {"x:xhtml", "x:other"}) {
    SCOPED_TRACE(method);
    const std::string stylesheet = Stylesheet(std::string("<xsl:output method='") + method + "'/>", kPage);
    world_.Write("doc.xml", kDocument);
    world_.Write("style.xsl", stylesheet);
    EXPECT_NE(world_.Program("xsltproc", {world_.Path("style.xsl"), world_.Path("doc.xml")}).status, 0);
    Signature object;
    object.put_XmlDoc(UniqueBstr::Copy(FromUtf8(kDocument)).get());
    const test::TransformOutcome outcome = test::RunTransform(object, FromUtf8(stylesheet));
    ClearErrorState();
    EXPECT_EQ(outcome.errorNo, static_cast<LONG>(Error::TransformingXml));
    EXPECT_EQ(outcome.tml, u"");
    const host::test::Result command = world_.Quillbox({"transform", "--xsl", world_.Path("style.xsl"), world_.Path("doc.xml")});
    EXPECT_EQ(command.status, 1);
    EXPECT_TRUE(command.err.starts_with("ERR_TRANSFORMING_XML (39): ")) << command.err;
  }
}

}  // namespace
}  // namespace quillbox
