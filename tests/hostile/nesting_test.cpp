// Documents, stylesheets and expressions nested far deeper than anything real, a hundred thousand
// levels: each fails cleanly with the error of the step that meets it, on the caller's stack as
// it is (no overflow, also under AddressSanitizer), and leaves XmlDoc as it was.
#include "hostile/scripted_signature.h"
#include "hostile/signer_store.h"
#include "hostile/texts.h"

namespace quillbox::test {
namespace {

constexpr std::size_t kDeep = 100'000;

std::u16string Repeat(std::u16string_view piece, std::size_t times) {
  std::u16string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

std::u16string NestedElements(std::size_t depth) { return Repeat(u"<a>", depth) + Repeat(u"</a>", depth); }

// A stylesheet whose one template writes the value of `expression`.
std::u16string ValueOf(const std::u16string& expression) {
  return Stylesheet(u"<xsl:template match='/'><r><xsl:value-of select='" + expression + u"'/></r></xsl:template>");
}

using Nesting = ScriptedSignature;

TEST_F(Nesting, ADocumentNestedAHundredThousandDeepIsAParseError) {
  UseSigner();
  const std::u16string document = NestedElements(kDeep);
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  ExpectSignFails(13, document);
  ExpectTransformFails(kCopyDocument, 13, document);
}

TEST_F(Nesting, ADocumentNestedAsDeepAsTheParserTakesSignsAndTransforms) {
  const std::u16string document = NestedElements(200);
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  EXPECT_EQ(TransformText(kCopyDocument),
            u"<?xml version=\"1.0\"?>\n" + Repeat(u"<a>", 199) + u"<a/>" + Repeat(u"</a>", 199) + u"\n");
  ExpectSignedBySigner(SignAdvanced(document));
}

TEST_F(Nesting, EntitiesThatNestWithoutEndAreAParseError) {
  UseSigner();
  for (const std::u16string& document :
       {std::u16string(u"<!DOCTYPE a [<!ENTITY e '<a>&e;</a>'>]><a>&e;</a>"),
        std::u16string(u"<!DOCTYPE a [<!ENTITY e '&f;'><!ENTITY f '&e;'>]><a>&e;</a>"),
        u"<!DOCTYPE a [<!ENTITY e '" + NestedElements(kDeep) + u"'>]><a>&e;</a>"}) {
    ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
    ExpectSignFails(13, document);
  }
}

TEST_F(Nesting, AStylesheetNestedAHundredThousandDeepIsAParseError) {
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  const std::u16string deepLiteral =
      Stylesheet(u"<xsl:template match='/'>" + NestedElements(kDeep) + u"</xsl:template>");
  const std::u16string deepInstructions = Stylesheet(
      u"<xsl:template match='/'>" + Repeat(u"<xsl:if test='true()'>", kDeep) + Repeat(u"</xsl:if>", kDeep) +
      u"</xsl:template>");
  for (const std::u16string& xsl : {deepLiteral, deepInstructions}) ExpectTransformFails(xsl, 37, u"<a/>");
}

TEST_F(Nesting, ExpressionsNestedAHundredThousandDeepDoNotCompile) {
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  const std::u16string parentheses = Repeat(u"(", kDeep) + u"1" + Repeat(u")", kDeep);
  for (const std::u16string& xsl :
       {ValueOf(parentheses), ValueOf(Repeat(u"not(", kDeep) + u"1" + Repeat(u")", kDeep)),
        ValueOf(Repeat(u"a[", kDeep) + u"1" + Repeat(u"]", kDeep)),
        Stylesheet(u"<xsl:template match='a[" + parentheses + u"]'/>"),
        Stylesheet(u"<xsl:template match='/'><r v='{" + parentheses + u"}'/></xsl:template>")})
    ExpectTransformFails(xsl, 38, u"<a/>");
  // A sign repeated is no nesting.
  EXPECT_EQ(TransformText(ValueOf(Repeat(u"-", kDeep) + u"1")), u"<?xml version=\"1.0\"?>\n<r>1</r>\n");
}

TEST_F(Nesting, AnExpressionTooLongToEvaluateFailsTheTransform) {
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  ExpectTransformFails(ValueOf(u"0" + Repeat(u"+1", kDeep)), 39, u"<a/>");
  // A thousand terms are an ordinary, if long, expression; parentheses in a string are text.
  EXPECT_EQ(TransformText(ValueOf(u"0" + Repeat(u"+(1)", 1'000))), u"<?xml version=\"1.0\"?>\n<r>1000</r>\n");
  EXPECT_EQ(TransformText(ValueOf(u"string-length(\"" + Repeat(u"((((", 1'000) + u"\")")),
            u"<?xml version=\"1.0\"?>\n<r>4000</r>\n");
  EXPECT_EQ(ErrorNo(), 0);
}

TEST_F(Nesting, ExpressionsMadeAtRunTimeNestedDeepEvaluateToNothing) {
  // dyn:evaluate compiles whatever text it is given, here text of the document itself; an
  // expression that does not compile gives an empty node-set, as EXSLT has it.
  auto dynamic = [](const char16_t* expression) {
    return u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform' "
           u"xmlns:dyn='http://exslt.org/dynamic' extension-element-prefixes='dyn'>"
           u"<xsl:template match='/'><r><xsl:value-of select='" + std::u16string(expression) +
           u"'/></r></xsl:template></xsl:stylesheet>";
  };
  ASSERT_EQ(PutText(u"XmlDoc", u"<a>" + Repeat(u"(", kDeep) + u"1" + Repeat(u")", kDeep) + u"</a>"), S_OK);
  EXPECT_EQ(TransformText(dynamic(u"dyn:evaluate(string(a))")), u"<?xml version=\"1.0\"?>\n<r/>\n");
  EXPECT_EQ(TransformText(dynamic(u"count(dyn:map(a, string(a)))")), u"<?xml version=\"1.0\"?>\n<r>0</r>\n");
  EXPECT_EQ(ErrorNo(), 0);
  ASSERT_EQ(PutText(u"XmlDoc", u"<a>(1 + 2) * 3</a>"), S_OK);
  EXPECT_EQ(TransformText(dynamic(u"dyn:evaluate(string(a))")), u"<?xml version=\"1.0\"?>\n<r>9</r>\n");
}

TEST_F(Nesting, RecursionWithoutEndFailsTheTransform) {
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  ExpectTransformFails(
      Stylesheet(u"<xsl:template match='/'><xsl:call-template name='t'/></xsl:template>"
                 u"<xsl:template name='t'><r><xsl:call-template name='t'/></r></xsl:template>"),
      39, u"<a/>");
  ExpectTransformFails(
      Stylesheet(u"<xsl:template match='/'><xsl:apply-templates select='.'/></xsl:template>"
                 u"<xsl:template match='/' mode='m'/><xsl:template match='node()'><xsl:apply-templates select='.'/>"
                 u"</xsl:template>"),
      39, u"<a/>");
}

TEST_F(Nesting, ADeepResultIsWrittenOut) {
  // A result a thousand levels deep, made by recursion well within libxslt's own limit.
  ASSERT_EQ(PutText(u"XmlDoc", u"<a/>"), S_OK);
  const std::u16string result = TransformText(
      Stylesheet(u"<xsl:template match='/'><xsl:call-template name='t'><xsl:with-param name='n' select='1000'/>"
                 u"</xsl:call-template></xsl:template>"
                 u"<xsl:template name='t'><xsl:param name='n'/><xsl:if test='$n &gt; 0'><a><xsl:call-template name='t'>"
                 u"<xsl:with-param name='n' select='$n - 1'/></xsl:call-template></a></xsl:if></xsl:template>"));
  EXPECT_EQ(ErrorNo(), 0);
  EXPECT_EQ(result, u"<?xml version=\"1.0\"?>\n" + Repeat(u"<a>", 999) + u"<a/>" + Repeat(u"</a>", 999) + u"\n");
}

}  // namespace
}  // namespace quillbox::test
