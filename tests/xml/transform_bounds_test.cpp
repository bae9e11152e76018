// Transform's work bound, under a small XPath operation limit set as an embedding host sets it:
// an expression whose work grows with the cube of the document stops with 39, while the same
// document under an ordinary stylesheet transforms.
#include "component/error_report.h"
#include "component/signature.h"
#include "support/bstr_helpers.h"
#include "xml/transform_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace quillbox::test {
namespace {

std::u16string Elements(int count) {
  std::u16string out = u"<r>";
  for (int i = 0; i < count; ++i) out += u"<a/>";
  return out + u"</r>";
}

std::u16string ValueOf(const std::u16string& expression) {
  return u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
         u"<xsl:template match='/'><o><xsl:value-of select='" + expression + u"'/></o></xsl:template></xsl:stylesheet>";
}

TEST(TransformWork, AnExpressionBeyondTheOperationLimitFails) {
  Signature object;
  object.put_XmlDoc(UniqueBstr::Copy(Elements(2'000)).get());
  const TransformOutcome nested = RunTransform(object, ValueOf(u"count(//a[count(//a[count(//a)>0])>0])"));
  EXPECT_EQ(nested.errorNo, static_cast<LONG>(Error::TransformingXml));
  EXPECT_EQ(nested.tml, u"");
  // The limit counts each call on its own: the next one starts afresh and runs to its end.
  const TransformOutcome plain = RunTransform(object, ValueOf(u"count(//a)"));
  EXPECT_EQ(plain.errorNo, 0);
  EXPECT_EQ(plain.tml, u"<?xml version=\"1.0\"?>\n<o>2000</o>\n");
  ClearErrorState();
}

}  // namespace
}  // namespace quillbox::test

int main(int argc, char** argv) {
  // Read once, at the first Transform: far below the nested expression's billions of steps, far
  // above the plain count's thousands.
  setenv("QUILLBOX_XPATH_OPERATION_LIMIT", "2000000", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
