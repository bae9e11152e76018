// Documents and stylesheets from a hostile page: each attempt to read a file, reach the network,
// write a file or exhaust memory fails with the number of the step that refused it, and leaves
// the machine exactly as it was.
#include "component/error_report.h"
#include "component/signature.h"
#include "support/bstr_helpers.h"
#include "support/module_lock_audit.h"
#include "xml/transform_support.h"

#include <gtest/gtest.h>

#include <string>

namespace quillbox {
namespace {

using test::FromUtf8;
using test::RunTransform;
using test::TransformOutcome;

constexpr char kSecret[] = "QUILLBOX-SECRET-7f3a9c";
constexpr char kHead[] =
    "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform' "
    "xmlns:exsl='http://exslt.org/common' xmlns:saxon='http://icl.com/saxon' "
    "extension-element-prefixes='exsl saxon'>";
constexpr char kCopyAll[] = "<xsl:template match='/'><r><xsl:copy-of select='/'/></r></xsl:template>";

std::string Stylesheet(const std::string& body) { return kHead + body + "</xsl:stylesheet>"; }

std::string BillionLaughs(const std::string& root) {
  std::string dtd = "<!DOCTYPE " + root + " [<!ENTITY l0 'ha'>";
  for (int i = 1; i <= 12; ++i) {
    dtd += "<!ENTITY l" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k) dtd += "&l" + std::to_string(i - 1) + ";";
    dtd += "'>";
  }
  return dtd + "]>";
}

// Every attack runs against a directory holding a secret, a DTD that would reveal it and a
// stylesheet that would be included, watched for any access; and a loopback port watched for any
// connection.
class TransformAttack : public test::ModuleLockAudit {
 protected:
  void SetUp() override {
    dir.Write("secret.txt", kSecret);
    dir.Write("secret.dtd", std::string("<!ENTITY secret '") + kSecret + "'>");
    dir.Write("evil.xsl", Stylesheet(std::string("<xsl:template match='/'><r>") + kSecret + "</r></xsl:template>"));
    watch.emplace(dir.path());
  }

  std::string FileUrl(const std::string& name) const { return "file://" + dir.File(name); }

  TransformOutcome Run(const std::string& document, const std::string& stylesheet) {
    object.put_XmlDoc(UniqueBstr::Copy(FromUtf8(document)).get());
    return RunTransform(object, FromUtf8(stylesheet));
  }

  void ExpectRefused(const TransformOutcome& outcome, Error error) {
    EXPECT_EQ(outcome.errorNo, static_cast<LONG>(error));
    EXPECT_EQ(outcome.errorStr, ErrorName(static_cast<LONG>(error)));
    EXPECT_EQ(outcome.tml, u"");
    EXPECT_EQ(outcome.errorDesc, std::nullopt);
    EXPECT_EQ(watch->Touched(), std::vector<std::string>{});
    EXPECT_FALSE(network.Contacted());
    EXPECT_FALSE(test::Exists(dir.File("written.xml")));
    EXPECT_FALSE(test::Exists(dir.File("made")));
  }

  void TearDown() override {
    ClearErrorState();
    held.Release();
    ModuleLockAudit::TearDown();
  }

  test::TempDir dir;
  std::optional<test::DirectoryWatch> watch;
  test::LoopbackListener network;
  test::HeldSignature held;
  Signature& object = *held;
};

TEST_F(TransformAttack, ExternalEntityReadingAFileInTheDocument) {
  ExpectRefused(Run("<!DOCTYPE a [<!ENTITY x SYSTEM '" + FileUrl("secret.txt") + "'>]><a>&x;</a>", Stylesheet(kCopyAll)),
                Error::ParsingXml);
  ExpectRefused(Run("<!DOCTYPE a [<!ENTITY x SYSTEM '" + dir.File("secret.txt") + "'>]><a>&x;</a>", Stylesheet(kCopyAll)),
                Error::ParsingXml);
}

TEST_F(TransformAttack, ExternalEntityReadingAFileInTheStylesheet) {
  const std::string xsl = "<!DOCTYPE xsl:stylesheet [<!ENTITY x SYSTEM '" + FileUrl("secret.txt") + "'>]>" +
                          Stylesheet("<xsl:template match='/'><r>&x;</r></xsl:template>");
  ExpectRefused(Run("<a/>", xsl), Error::ParsingSchemaXml);
}

TEST_F(TransformAttack, ExternalEntityReachingTheNetwork) {
  ExpectRefused(Run("<!DOCTYPE a [<!ENTITY x SYSTEM '" + network.Url("x") + "'>]><a>&x;</a>", Stylesheet(kCopyAll)),
                Error::ParsingXml);
  ExpectRefused(Run("<!DOCTYPE a [<!ENTITY % p SYSTEM '" + network.Url("p") + "'> %p;]><a/>", Stylesheet(kCopyAll)),
                Error::ParsingXml);
}

TEST_F(TransformAttack, ExternalDtd) {
  ExpectRefused(Run("<!DOCTYPE a SYSTEM '" + FileUrl("secret.dtd") + "'><a>&secret;</a>", Stylesheet(kCopyAll)),
                Error::ParsingXml);
  ExpectRefused(Run("<!DOCTYPE a SYSTEM '" + network.Url("a.dtd") + "'><a/>", Stylesheet(kCopyAll)), Error::ParsingXml);
  ExpectRefused(Run("<a/>", "<!DOCTYPE xsl:stylesheet SYSTEM '" + FileUrl("secret.dtd") + "'>" +
                                Stylesheet("<xsl:template match='/'><r>&secret;</r></xsl:template>")),
                Error::ParsingSchemaXml);
}

TEST_F(TransformAttack, DocumentFunctionReadingALocalFile) {
  for (const std::string& target : {FileUrl("secret.txt"), dir.File("secret.txt"), FileUrl("evil.xsl"), std::string("secret.txt")}) {
    const TransformOutcome outcome =
        Run("<a/>", Stylesheet("<xsl:template match='/'><r><xsl:copy-of select=\"document('" + target + "')\"/></r></xsl:template>"));
    ExpectRefused(outcome, Error::TransformingXml);
  }
}

TEST_F(TransformAttack, DocumentFunctionWithAUriFromTheDocument) {
  ExpectRefused(Run("<a>" + FileUrl("evil.xsl") + "</a>",
                    Stylesheet("<xsl:template match='/'><r><xsl:value-of select='document(a)'/></r></xsl:template>")),
                Error::TransformingXml);
}

TEST_F(TransformAttack, DocumentFunctionReachingTheNetwork) {
  ExpectRefused(Run("<a/>", Stylesheet("<xsl:template match='/'><r><xsl:copy-of select=\"document('" + network.Url("d.xml") +
                                       "')\"/></r></xsl:template>")),
                Error::TransformingXml);
}

TEST_F(TransformAttack, IncludeOfALocalFile) {
  ExpectRefused(Run("<a/>", Stylesheet("<xsl:include href='" + FileUrl("evil.xsl") + "'/>")), Error::ParsingXsltSchema);
  ExpectRefused(Run("<a/>", Stylesheet("<xsl:include href='" + dir.File("evil.xsl") + "'/>")), Error::ParsingXsltSchema);
}

TEST_F(TransformAttack, ImportOfALocalFileOrUrl) {
  ExpectRefused(Run("<a/>", Stylesheet("<xsl:import href='" + FileUrl("evil.xsl") + "'/>")), Error::ParsingXsltSchema);
  ExpectRefused(Run("<a/>", Stylesheet("<xsl:import href='" + network.Url("i.xsl") + "'/>")), Error::ParsingXsltSchema);
}

TEST_F(TransformAttack, ExslDocumentWritingAFile) {
  ExpectRefused(Run("<a/>", Stylesheet("<xsl:template match='/'><exsl:document href='" + dir.File("written.xml") +
                                       "'><w/></exsl:document><r/></xsl:template>")),
                Error::TransformingXml);
  ExpectRefused(Run("<a/>", Stylesheet("<xsl:template match='/'><exsl:document href='" + dir.File("made/written.xml") +
                                       "'><w/></exsl:document><r/></xsl:template>")),
                Error::TransformingXml);
}

TEST_F(TransformAttack, ExslDocumentWritingToTheNetwork) {
  ExpectRefused(Run("<a/>", Stylesheet("<xsl:template match='/'><exsl:document href='" + network.Url("w.xml") +
                                       "'><w/></exsl:document><r/></xsl:template>")),
                Error::TransformingXml);
}

TEST_F(TransformAttack, OtherFileWritingExtensions) {
  ExpectRefused(Run("<a/>", Stylesheet("<xsl:template match='/'><saxon:output href='" + dir.File("written.xml") +
                                       "'><w/></saxon:output><r/></xsl:template>")),
                Error::TransformingXml);
  const std::string version11 =
      "<xsl:stylesheet version='1.1' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'><xsl:template match='/'>"
      "<xsl:document href='" + dir.File("written.xml") + "'><w/></xsl:document><r/></xsl:template></xsl:stylesheet>";
  ExpectRefused(Run("<a/>", version11), Error::TransformingXml);
}

TEST_F(TransformAttack, BillionLaughsInTheDocument) {
  ExpectRefused(Run(BillionLaughs("a") + "<a>&l12;</a>", Stylesheet(kCopyAll)), Error::ParsingXml);
}

TEST_F(TransformAttack, BillionLaughsInTheStylesheet) {
  ExpectRefused(Run("<a/>", BillionLaughs("xsl:stylesheet") + Stylesheet("<xsl:template match='/'><r>&l12;</r></xsl:template>")),
                Error::ParsingSchemaXml);
}

TEST_F(TransformAttack, RefusalInOneCallDoesNotOutliveIt) {
  ExpectRefused(Run("<a/>", Stylesheet("<xsl:template match='/'><r><xsl:copy-of select=\"document('" + FileUrl("secret.txt") +
                                       "')\"/></r></xsl:template>")),
                Error::TransformingXml);
  const TransformOutcome next = Run("<a>ok</a>", Stylesheet(kCopyAll));
  EXPECT_EQ(next.errorNo, 0);
  EXPECT_EQ(next.tml, u"<?xml version=\"1.0\"?>\n<r><a>ok</a></r>\n");
}

}  // namespace
}  // namespace quillbox
