// Transform's contract: its checks and error numbers, its result text, and what it leaves behind
// in the object, the error report and the XML libraries.
#include "component/error_report.h"
#include "component/signature.h"
#include "support/bstr_helpers.h"
#include "support/module_lock_audit.h"
#include "xml/transform_support.h"

#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxslt/documents.h>
#include <libxslt/xsltutils.h>

#include <cstring>
#include <string>
#include <vector>

namespace quillbox {
namespace {

using test::RunTransform;
using test::TransformOutcome;

constexpr char16_t kHead[] = u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>";
constexpr char16_t kTail[] = u"</xsl:stylesheet>";

std::u16string Stylesheet(const std::u16string& body) { return kHead + body + kTail; }

const std::u16string kCopyRoot = Stylesheet(u"<xsl:template match='/'><r><xsl:copy-of select='*'/></r></xsl:template>");

const std::u16string kToUtf8 =
    Stylesheet(u"<xsl:output encoding='UTF-8'/><xsl:template match='/'><r><xsl:value-of select='a'/></r></xsl:template>");

// The stored bytes of a BSTR, its length prefix's worth, or nullopt for null.
std::optional<std::vector<unsigned char>> StoredBytes(BSTR text) {
  if (text == nullptr) return std::nullopt;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  return std::vector<unsigned char>(bytes, bytes + SysStringByteLen(text) + sizeof(OLECHAR));
}

class TransformTest : public test::ModuleLockAudit {
 protected:
  void SetUp() override { ClearErrorState(); }
  void TearDown() override {
    ClearErrorState();
    held.Release();
    ModuleLockAudit::TearDown();
  }

  void SetXmlDoc(const std::u16string& text) {
    const auto value = UniqueBstr::Copy(text);
    object.put_XmlDoc(value.get());
  }

  void ExpectFailure(const TransformOutcome& outcome, Error error, const char16_t* name) {
    EXPECT_EQ(outcome.tml, u"");
    EXPECT_EQ(outcome.errorNo, static_cast<LONG>(error));
    EXPECT_EQ(outcome.errorStr, name);
    EXPECT_EQ(outcome.errorDesc, std::nullopt);
  }

  test::HeldSignature held;
  Signature& object = *held;
};

TEST_F(TransformTest, NullXmlDocIsReportedAsEmpty) {
  ExpectFailure(RunTransform(object, kCopyRoot), Error::XmlDocEmpty, u"ERR_XMLDOC_EMPTY");
}

TEST_F(TransformTest, NullStylesheetIsReportedAsAnEmptyDocumentToo) {
  SetXmlDoc(u"<a/>");
  ExpectFailure(RunTransform(object, std::nullopt), Error::XmlDocEmpty, u"ERR_XMLDOC_EMPTY");
}

TEST_F(TransformTest, EmptyXmlDocFailsToParse) {
  SetXmlDoc(u"");
  ExpectFailure(RunTransform(object, kCopyRoot), Error::ParsingXml, u"ERR_PARSING_XML");
}

TEST_F(TransformTest, MalformedXmlDocFailsToParse) {
  SetXmlDoc(u"<a><b></a>");
  ExpectFailure(RunTransform(object, kCopyRoot), Error::ParsingXml, u"ERR_PARSING_XML");
}

TEST_F(TransformTest, EmptyStylesheetFailsToParse) {
  SetXmlDoc(u"<a/>");
  ExpectFailure(RunTransform(object, u""), Error::ParsingSchemaXml, u"ERR_PARSING_SCHEMA_XML");
}

TEST_F(TransformTest, MalformedStylesheetFailsToParse) {
  SetXmlDoc(u"<a/>");
  ExpectFailure(RunTransform(object, kHead), Error::ParsingSchemaXml, u"ERR_PARSING_SCHEMA_XML");
}

TEST_F(TransformTest, WellFormedNonStylesheetFailsToCompile) {
  SetXmlDoc(u"<a/>");
  ExpectFailure(RunTransform(object, u"<a/>"), Error::ParsingXsltSchema, u"ERR_PARSING_XSLT_SCHEMA");
  ExpectFailure(RunTransform(object, Stylesheet(u"<xsl:template match='/['/>")), Error::ParsingXsltSchema,
                u"ERR_PARSING_XSLT_SCHEMA");
  ExpectFailure(RunTransform(object, Stylesheet(u"<xsl:template match='/'><xsl:value-of select='1 +'/></xsl:template>")),
                Error::ParsingXsltSchema, u"ERR_PARSING_XSLT_SCHEMA");
}

TEST_F(TransformTest, TerminatingMessageYieldsNoResult) {
  SetXmlDoc(u"<a/>");
  ExpectFailure(RunTransform(object, Stylesheet(u"<xsl:template match='/'><r/><xsl:message terminate='yes'>stop</xsl:message></xsl:template>")),
                Error::TransformingXml, u"ERR_TRANSFORMING_XML");
}

TEST_F(TransformTest, RuntimeErrorYieldsNoPartialResult) {
  SetXmlDoc(u"<a/>");
  ExpectFailure(RunTransform(object, Stylesheet(u"<xsl:template match='/'><r><c/><xsl:attribute name='x'>1</xsl:attribute></r></xsl:template>")),
                Error::TransformingXml, u"ERR_TRANSFORMING_XML");
  ExpectFailure(RunTransform(object, Stylesheet(u"<xsl:template match='/'><r><xsl:value-of select='no-such-function()'/></r></xsl:template>")),
                Error::TransformingXml, u"ERR_TRANSFORMING_XML");
}

TEST_F(TransformTest, OutputEncodingTheSerialiserCannotWriteIsAFailureNotAnEmptyResult) {
  SetXmlDoc(u"<a/>");
  ExpectFailure(RunTransform(object, Stylesheet(u"<xsl:output encoding='x-no-such-encoding'/><xsl:template match='/'><r/></xsl:template>")),
                Error::TransformingXml, u"ERR_TRANSFORMING_XML");
}

TEST_F(TransformTest, AResultThatWouldSerialiseUnreadablyIsAFailure) {
  SetXmlDoc(u"<a/>");
  ExpectFailure(RunTransform(object, Stylesheet(u"<xsl:template match='/'><r xmlns='urn:x?a=1&amp;b=2'/></xsl:template>")),
                Error::TransformingXml, u"ERR_TRANSFORMING_XML");
}

TEST_F(TransformTest, EndlessRecursionIsStoppedAndReported) {
  SetXmlDoc(u"<a/>");
  ExpectFailure(RunTransform(object, Stylesheet(u"<xsl:template match='/'><xsl:call-template name='again'/></xsl:template>"
                                                u"<xsl:template name='again'><r><xsl:call-template name='again'/></r></xsl:template>")),
                Error::TransformingXml, u"ERR_TRANSFORMING_XML");
}

TEST_F(TransformTest, Utf16OutputIsReadAsUtf16) {
  SetXmlDoc(u"<a>\u010d\U0001F600</a>");
  EXPECT_EQ(RunTransform(object, Stylesheet(u"<xsl:output encoding='UTF-16'/><xsl:template match='/'><r><xsl:value-of select='a'/></r></xsl:template>")).tml,
            u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<r>\u010d\U0001F600</r>\n");
}

TEST_F(TransformTest, SuccessGivesTheSerialisedResultAndClearsTheReport) {
  SetXmlDoc(u"<a><b x='1'>t</b></a>");
  const TransformOutcome outcome = RunTransform(object, kCopyRoot);
  EXPECT_EQ(outcome.tml, u"<?xml version=\"1.0\"?>\n<r><a><b x=\"1\">t</b></a></r>\n");
  EXPECT_EQ(outcome.errorNo, 0);
  EXPECT_EQ(outcome.errorStr, std::nullopt);
  EXPECT_EQ(outcome.errorDesc, std::nullopt);
}

TEST_F(TransformTest, Utf8ResultIsCountedInUtf16UnitsExactly) {
  // A character beyond the basic plane takes two UTF-16 units and four UTF-8 bytes.
  SetXmlDoc(u"<a>\u010d\U0001F600</a>");
  const TransformOutcome outcome = RunTransform(object, kToUtf8);
  EXPECT_EQ(outcome.tml, u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\u010d\U0001F600</r>\n");
  ASSERT_TRUE(outcome.tml);
  EXPECT_EQ(outcome.tml->size(), std::u16string(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r></r>\n").size() + 3);
}

TEST_F(TransformTest, WithoutAnOutputEncodingTheResultIsUtf8) {
  // libxslt writes a result that names no encoding in UTF-8, characters as they are.
  SetXmlDoc(u"<a>\u010d\U0001F600</a>");
  EXPECT_EQ(RunTransform(object, Stylesheet(u"<xsl:template match='/'><r><xsl:value-of select='a'/></r></xsl:template>")).tml,
            u"<?xml version=\"1.0\"?>\n<r>\u010d\U0001F600</r>\n");
}

TEST_F(TransformTest, TextOutputIsTheTextAlone) {
  SetXmlDoc(u"<a>Hello &amp; more &lt;b&gt;</a>");
  EXPECT_EQ(RunTransform(object, Stylesheet(u"<xsl:output method='text'/><xsl:template match='/'><xsl:value-of select='a'/></xsl:template>")).tml,
            u"Hello & more <b>");
}

TEST_F(TransformTest, AnEmptyResultIsAnEmptyStringAndNoError) {
  // The serialiser writes nothing for a result tree with nothing in it; that is not its failure.
  SetXmlDoc(u"<a/>");
  for (const char16_t* method : {u"xml", u"html", u"text"}) {
    const TransformOutcome outcome =
        RunTransform(object, Stylesheet(std::u16string(u"<xsl:output method='") + method + u"'/><xsl:template match='/'/>"));
    EXPECT_EQ(outcome.tml, u"") << test::ToUtf8(method);
    EXPECT_EQ(outcome.errorNo, 0) << test::ToUtf8(method);
    EXPECT_EQ(outcome.errorStr, std::nullopt);
  }
}

TEST_F(TransformTest, TextsAreReadAsXsltprocReadsThem) {
  // CDATA sections are text in XSLT's data model: a copy is escaped text, merged with its
  // neighbours. Attributes the internal subset gives a default value are there.
  SetXmlDoc(u"<!DOCTYPE a [<!ATTLIST a kind CDATA 'plain'>]><a>x<![CDATA[<&>]]>y</a>");
  EXPECT_EQ(RunTransform(object, Stylesheet(u"<xsl:template match='/'><r k='{a/@kind}' n='{count(a/node())}'><xsl:copy-of select='a/node()'/></r></xsl:template>")).tml,
            u"<?xml version=\"1.0\"?>\n<r k=\"plain\" n=\"1\">x&lt;&amp;&gt;y</r>\n");
  // The same goes for the stylesheet: a CDATA section in a template is literal text.
  SetXmlDoc(u"<a/>");
  EXPECT_EQ(RunTransform(object, Stylesheet(u"<xsl:template match='/'><r><![CDATA[<&>]]></r></xsl:template>")).tml,
            u"<?xml version=\"1.0\"?>\n<r>&lt;&amp;&gt;</r>\n");
}

TEST_F(TransformTest, DeclaredEncodingOfTheInputDoesNotChangeHowItsTextIsRead) {
  // The script's string is already characters; a declaration naming a single-byte encoding must
  // not make the parser reinterpret them.
  SetXmlDoc(u"<?xml version='1.0' encoding='ISO-8859-2'?><a>\u0141\u00f3d\u017a</a>");
  EXPECT_EQ(RunTransform(object, kToUtf8).tml, u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\u0141\u00f3d\u017a</r>\n");
}

// A Shift_JIS result is written and read as code page 932, as Sign writes the signed document: the
// backslash and the tilde come back as themselves, the yen sign (which the code page holds only by
// iconv's best fit, as the backslash's byte) as a reference.
TEST_F(TransformTest, ShiftJisResultKeepsBackslashAndTilde) {
  SetXmlDoc(u"<a>C:\\\u65e5\u672c~\u00a5</a>");
  EXPECT_EQ(RunTransform(object, Stylesheet(u"<xsl:output encoding='Shift_JIS'/>"
                                            u"<xsl:template match='/'><r><xsl:value-of select='a'/></r></xsl:template>"))
                .tml,
            u"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<r>C:\\\u65e5\u672c~&#165;</r>\n");
}

TEST_F(TransformTest, XmlDocStopsAtItsFirstZeroCharacter) {
  SetXmlDoc(std::u16string(u"<a>x</a>\0<b>", 12));  // the setter keeps "<a>x</a>" only
  EXPECT_EQ(RunTransform(object, kCopyRoot).tml, u"<?xml version=\"1.0\"?>\n<r><a>x</a></r>\n");
  // The stylesheet argument is read the same way.
  EXPECT_EQ(RunTransform(object, kCopyRoot + std::u16string(u"\0garbage", 8)).errorNo, 0);
}

TEST_F(TransformTest, XmlDocIsUnchangedByteForByte) {
  SetXmlDoc(u"<?xml version='1.0' encoding='windows-1250'?>\n<!-- c --><a  x = \"1\">\u010d<![CDATA[<&>]]></a>\n");
  const BSTR before = object.xmlDoc();
  const auto bytes = StoredBytes(before);
  for (const std::optional<std::u16string>& xsl : {std::optional<std::u16string>(kCopyRoot),
                                                    std::optional<std::u16string>(u"<a/>"),
                                                    std::optional<std::u16string>(std::nullopt)}) {
    RunTransform(object, xsl);
    EXPECT_EQ(object.xmlDoc(), before);
    EXPECT_EQ(StoredBytes(object.xmlDoc()), bytes);
  }
}

TEST_F(TransformTest, OtherPropertiesAreUntouched) {
  const auto subject = UniqueBstr::Copy(u"CN=Someone");
  object.put_CertSubject(subject.get());
  object.put_CertFindOption(FindBySubject);
  SetXmlDoc(u"<a/>");
  RunTransform(object, kCopyRoot);
  BSTR read = nullptr;
  object.get_CertSubject(&read);
  EXPECT_EQ(test::Take(read), u"CN=Someone");
  SHORT option = 0;
  object.get_CertFindOption(&option);
  EXPECT_EQ(option, FindBySubject);
}

TEST_F(TransformTest, EarlierFailureIsWipedBySuccess) {
  SetXmlDoc(u"<a/>");
  ASSERT_EQ(RunTransform(object, u"<a/>").errorNo, static_cast<LONG>(Error::ParsingXsltSchema));
  const TransformOutcome outcome = RunTransform(object, kCopyRoot);
  EXPECT_EQ(outcome.errorNo, 0);
  EXPECT_EQ(outcome.errorStr, std::nullopt);
  EXPECT_EQ(outcome.errorDesc, std::nullopt);
}

TEST_F(TransformTest, EarlierSigningFailureAndItsDescriptionAreWiped) {
  // A failed Sign leaves a number, a name and a crypto-library description behind.
  SetError(Error::SigningDoc);
  CryptoErrorCallback("file.c", 1, "fn", nullptr, nullptr, 0, "first");
  SetXmlDoc(u"<a/>");
  for (const std::u16string& xsl : {kCopyRoot, std::u16string(u"<a/>")}) {
    const TransformOutcome outcome = RunTransform(object, xsl);
    EXPECT_NE(outcome.errorNo, static_cast<LONG>(Error::SigningDoc));
    EXPECT_EQ(outcome.errorDesc, std::nullopt);
    // The description-taken flag is reset too: the next report fills the description again.
    CryptoErrorCallback(nullptr, 0, nullptr, nullptr, nullptr, 0, "again");
    BSTR desc = nullptr;
    object.get_ErrorDesc(&desc);
    EXPECT_EQ(test::Take(desc), u"Message: again, ");
    CryptoErrorCallback(nullptr, 0, nullptr, nullptr, nullptr, 0, "first");
  }
}

TEST_F(TransformTest, NullResultPointerIsTolerated) {
  SetXmlDoc(u"<a/>");
  const auto xsl = UniqueBstr::Copy(u"<a/>");
  EXPECT_EQ(object.Transform(xsl.get(), nullptr), S_OK);
  LONG number = 0;
  object.get_ErrorNo(&number);
  EXPECT_EQ(number, static_cast<LONG>(Error::ParsingXsltSchema));
}

TEST_F(TransformTest, ErrorsOfEveryStepStayOffStderr) {
  SetXmlDoc(u"<a/>");
  test::StderrCapture capture;
  RunTransform(object, Stylesheet(u"<xsl:template match='/['/>"));
  RunTransform(object, Stylesheet(u"<xsl:template match='/'><xsl:message>hello</xsl:message><xsl:copy-of select=\"document('/etc/hostname')\"/></xsl:template>"));
  RunTransform(object, Stylesheet(u"<xsl:template match='/'><xsl:message terminate='yes'>bye</xsl:message></xsl:template>"));
  RunTransform(object, Stylesheet(u"<xsl:output encoding='x-no-such-encoding'/><xsl:template match='/'><r/></xsl:template>"));
  RunTransform(object, Stylesheet(u"<xsl:include href='/nonexistent/quillbox.xsl'/>"));
  RunTransform(object, u"<a>");
  SetXmlDoc(u"<a>");
  RunTransform(object, kCopyRoot);
  EXPECT_EQ(capture.Finish(), "");
}

void CountingError(void* context, const char* /*message*/, ...) { ++*static_cast<int*>(context); }

TEST_F(TransformTest, ProcessWideHandlersAndLoadersArePutBack) {
  int xmlErrors = 0;
  int xsltErrors = 0;
  xmlSetGenericErrorFunc(&xmlErrors, CountingError);
  xsltSetGenericErrorFunc(&xsltErrors, CountingError);
  const xmlExternalEntityLoader entityLoader = xmlGetExternalEntityLoader();
  const xsltDocLoaderFunc documentLoader = xsltDocDefaultLoader;

  SetXmlDoc(u"<a/>");
  RunTransform(object, Stylesheet(u"<xsl:template match='/'><xsl:message>m</xsl:message></xsl:template>"));
  RunTransform(object, Stylesheet(u"<xsl:template match='/['/>"));

  EXPECT_EQ(xmlErrors, 0);
  EXPECT_EQ(xsltErrors, 0);
  EXPECT_EQ(xmlGenericErrorContext, &xmlErrors);
  EXPECT_EQ(xmlGenericError, &CountingError);
  EXPECT_EQ(xsltGenericErrorContext, &xsltErrors);
  EXPECT_EQ(xsltGenericError, &CountingError);
  EXPECT_EQ(xmlGetExternalEntityLoader(), entityLoader);
  EXPECT_EQ(xsltDocDefaultLoader, documentLoader);
  xmlSetGenericErrorFunc(nullptr, nullptr);
  xsltSetGenericErrorFunc(nullptr, nullptr);
}

// The component switches the parser defaults on for its own parse only: a host that parses
// after it must not start loading external DTDs and substituting external entities.
TEST_F(TransformTest, ParserDefaultsAreAsTheHostLeftThem) {
  for (const int host : {0, 1}) {
    xmlLoadExtDtdDefaultValue = host;
    xmlSubstituteEntitiesDefault(host);
    SetXmlDoc(u"<a/>");
    EXPECT_EQ(RunTransform(object, kCopyRoot).errorNo, 0);
    EXPECT_EQ(xmlLoadExtDtdDefaultValue, host);
    EXPECT_EQ(xmlSubstituteEntitiesDefault(0), host);  // returns the value it replaces
  }
  xmlLoadExtDtdDefaultValue = 0;
}

TEST_F(TransformTest, ExsltIsAvailableOnEveryCall) {
  SetXmlDoc(u"<a/>");
  const std::u16string xsl =
      u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform' "
      u"xmlns:exsl='http://exslt.org/common' xmlns:str='http://exslt.org/strings' exclude-result-prefixes='exsl str'>"
      u"<xsl:template match='/'><xsl:variable name='v'><i>1</i><i>2</i></xsl:variable>"
      u"<r n='{count(exsl:node-set($v)/i)}' t='{count(str:tokenize(\"a b c\"))}'/></xsl:template></xsl:stylesheet>";
  // libxslt's globals are cleaned up after each call; the extensions must come back each time.
  for (int call = 0; call < 3; ++call) {
    EXPECT_EQ(RunTransform(object, xsl).tml, u"<?xml version=\"1.0\"?>\n<r n=\"2\" t=\"3\"/>\n") << call;
  }
}

TEST_F(TransformTest, DocumentOfTheStylesheetItselfStillWorks) {
  SetXmlDoc(u"<a>2</a>");
  const std::u16string xsl =
      u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform' xmlns:t='urn:table' "
      u"exclude-result-prefixes='t'>"
      u"<t:n k='1'>one</t:n><t:n k='2'>two</t:n>"
      u"<xsl:template match='/'><r><xsl:value-of select=\"document('')/*/t:n[@k = current()/a]\"/></r></xsl:template>"
      u"</xsl:stylesheet>";
  const TransformOutcome outcome = RunTransform(object, xsl);
  EXPECT_EQ(outcome.tml, u"<?xml version=\"1.0\"?>\n<r>two</r>\n");
  EXPECT_EQ(outcome.errorNo, 0);
}

TEST_F(TransformTest, DocumentOfTheStylesheetIsTheStylesheetAsWritten) {
  // As xsltproc reads its stylesheet file again: whitespace and all, not the compiled tree.
  SetXmlDoc(u"<a/>");
  const std::u16string xsl =
      u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>\n"
      u"  <xsl:template match='/'><r><xsl:value-of select=\"count(document('')/*/node())\"/></r></xsl:template>\n"
      u"</xsl:stylesheet>";
  for (int call = 0; call < 2; ++call) {
    EXPECT_EQ(RunTransform(object, xsl).tml, u"<?xml version=\"1.0\"?>\n<r>3</r>\n") << call;
  }
}

TEST_F(TransformTest, TwoObjectsShareOneReport) {
  Signature other;
  SetXmlDoc(u"<a/>");
  RunTransform(object, u"<a/>");
  LONG number = 0;
  other.get_ErrorNo(&number);
  EXPECT_EQ(number, static_cast<LONG>(Error::ParsingXsltSchema));
  // The other object has no document: its Transform overwrites the report with its own failure.
  EXPECT_EQ(RunTransform(other, kCopyRoot).errorNo, static_cast<LONG>(Error::XmlDocEmpty));
}

}  // namespace
}  // namespace quillbox
