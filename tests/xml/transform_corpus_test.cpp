// Transform against xsltproc over a corpus of stylesheets: for XML output the component's result
// is the same tree that xsltproc writes for the same document and stylesheet, in the same
// declared encoding.
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
using test::ToUtf8;

const std::string kCorpus = std::string(QUILLBOX_SOURCE_DIR) + "/tests/xml/corpus/";

struct Transformed {
  std::u16string component;
  std::string xsltproc;
};

// Runs corpus case `name` (name.xml through name.xsl) through the component and through xsltproc.
Transformed TransformCase(const std::string& name) {
  const std::string document = kCorpus + name + ".xml";
  const std::string stylesheet = kCorpus + name + ".xsl";
  Signature object;
  object.put_XmlDoc(UniqueBstr::Copy(FromUtf8(test::ReadBytes(document))).get());
  const test::TransformOutcome outcome = test::RunTransform(object, FromUtf8(test::ReadBytes(stylesheet)));
  ClearErrorState();
  EXPECT_EQ(outcome.errorNo, 0) << name;
  EXPECT_EQ(outcome.errorStr, std::nullopt) << name;
  const std::optional<std::string> reference = test::Xsltproc(stylesheet, document);
  EXPECT_TRUE(reference) << "xsltproc failed on " << name;
  return {outcome.tml.value_or(u"<null>"), reference.value_or("")};
}

class XmlOutputCase : public test::ModuleLockAudit, public ::testing::WithParamInterface<const char*> {};
using CorpusEncodings = test::ModuleLockAudit;
using CorpusText = test::ModuleLockAudit;

TEST_P(XmlOutputCase, SameTreeAsXsltproc) {
  const Transformed result = TransformCase(GetParam());
  const std::string ours = ToUtf8(result.component);
  ASSERT_FALSE(result.xsltproc.empty());
  // The component hands back characters; their declaration still names the encoding the
  // serialiser wrote, as xsltproc's bytes do.
  EXPECT_EQ(test::XmlDeclaration(ours), test::XmlDeclaration(result.xsltproc));
  const std::optional<std::string> ourTree = test::CanonicalTree(ours, true);
  const std::optional<std::string> referenceTree = test::CanonicalTree(result.xsltproc, false);
  ASSERT_TRUE(ourTree) << ours;
  ASSERT_TRUE(referenceTree) << result.xsltproc;
  EXPECT_EQ(*ourTree, *referenceTree);
}

INSTANTIATE_TEST_SUITE_P(Corpus, XmlOutputCase,
                         ::testing::Values("identity", "filter", "sort", "keys", "number", "non_ascii", "windows_1250",
                                           "iso_8859_2", "document_self", "exslt"));

// Characters the single-byte encodings hold come back as themselves, not as the bytes that stand
// for them read as UTF-8, and not as character references.
TEST_F(CorpusEncodings, SingleByteResultsAreReadInTheirOwnEncoding) {
  const std::u16string czech = TransformCase("windows_1250").component;
  EXPECT_NE(czech.find(u"P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd k\u016f\u0148"), std::u16string::npos);
  EXPECT_NE(czech.find(u"\u201eu\u0161\u00ed\u201c"), std::u16string::npos);  // windows-1250 has these quotes
  EXPECT_NE(czech.find(u"&#20013;"), std::u16string::npos);  // a character it lacks is a reference
  const std::u16string polish = TransformCase("iso_8859_2").component;
  EXPECT_NE(polish.find(u"Za\u017c\u00f3\u0142\u0107 g\u0119\u015bl\u0105 ja\u017a\u0144"), std::u16string::npos);
  EXPECT_NE(polish.find(u"&#8222;"), std::u16string::npos);  // ISO-8859-2 has no such quote
}

// Output method text: the text alone, nothing escaped and no declaration, as xsltproc writes it.
TEST_F(CorpusText, TextOutputIsXsltprocsText) {
  const Transformed result = TransformCase("text");
  EXPECT_EQ(ToUtf8(result.component), result.xsltproc);
  EXPECT_NE(result.xsltproc.find("<b> & </b>"), std::string::npos);
  EXPECT_FALSE(result.xsltproc.starts_with("<?xml"));
}

}  // namespace
}  // namespace quillbox
