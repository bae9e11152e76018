// Documents shaped to make the libraries' work quadratic (attributes by the hundred thousand on
// one element, namespaces declared by the thousand above many elements) or to expand entities
// through attribute values: each is a parse error at once, while documents of a real shape, also
// long ones, sign and transform as before.
#include "hostile/scripted_signature.h"
#include "hostile/signer_store.h"
#include "hostile/texts.h"

#include <string>

namespace quillbox::test {
namespace {

std::string Attributes(std::size_t count, const std::string& prefix = "a") {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += " " + prefix + std::to_string(i) + "='v'";
  return out;
}

std::string Namespaces(std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += " xmlns:n" + std::to_string(i) + "='urn:n" + std::to_string(i) + "'";
  return out;
}

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

using Shapes = ScriptedSignature;

TEST_F(Shapes, AHundredThousandAttributesOnOneElementAreAParseError) {
  UseSigner();
  const std::u16string document = FromUtf8("<r" + Attributes(100'000) + "/>");
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  ExpectSignFails(13, document);
  ExpectTransformFails(kCopyDocument, 13, document);
  // The stylesheet goes through the same parser.
  ASSERT_EQ(PutText(u"XmlDoc", u"<r/>"), S_OK);
  ExpectTransformFails(FromUtf8("<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'" +
                                Attributes(100'000, "x") + "/>"),
                       37, u"<r/>");
}

TEST_F(Shapes, ManyAttributesOnManyElementsAreAParseError) {
  // Each element is within the per-element bound; together they are minutes of duplicate checks.
  const std::u16string document = FromUtf8("<r>" + Repeat("<e" + Attributes(5'000) + "/>", 40) + "</r>");
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  ExpectTransformFails(kCopyDocument, 13, document);
}

TEST_F(Shapes, TenThousandNamespacesOverAHundredChildrenAreAParseError) {
  UseSigner();
  const std::u16string document = FromUtf8("<r" + Namespaces(10'000) + ">" + Repeat("<c/>", 100) + "</r>");
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  ExpectSignFails(13, document);
}

TEST_F(Shapes, EntitiesExpandedThroughAttributeValuesAreBounded) {
  UseSigner();
  // 100 KB referenced ten times in each of 4,000 attributes: 4 GB from 250 KB of text.
  std::string attributes;
  for (int i = 0; i < 4'000; ++i) attributes += " a" + std::to_string(i) + "='" + Repeat("&e;", 10) + "'";
  const std::u16string document =
      FromUtf8("<!DOCTYPE r [<!ENTITY e '" + std::string(100'000, 'x') + "'>]><r" + attributes + "/>");
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  ExpectSignFails(13, document);
  ExpectTransformFails(kCopyDocument, 13, document);
}

TEST_F(Shapes, DocumentsOfARealShapeSignAndTransform) {
  // Long, with a realistic number of attributes and namespaces everywhere and entities used.
  const std::string record = "<rec" + Attributes(20) + "><n:f xmlns:n='urn:f' k='&org;'>&org;</n:f></rec>";
  const std::u16string document =
      FromUtf8("<!DOCTYPE form [<!ENTITY org 'Quillbox d.o.o.'>]><form xmlns='urn:form'" + Namespaces(8) + ">" +
               Repeat(record, 20'000) + "</form>");
  ASSERT_EQ(PutText(u"XmlDoc", document), S_OK);
  EXPECT_FALSE(TransformText(kCopyDocument).empty());
  EXPECT_EQ(ErrorNo(), 0);
  ExpectSignedBySigner(SignAdvanced(document));
}

}  // namespace
}  // namespace quillbox::test
