// The shape scan that keeps parsing and canonicalisation near linear, with small bounds.
#include "xml/xml_bounds.h"

#include <gtest/gtest.h>

#include <string>

namespace quillbox {
namespace {

std::string Attributes(std::size_t count, const std::string& prefix = "a") {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += " " + prefix + std::to_string(i) + "='v'";
  return out;
}

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(XmlShape, CountsAttributesAndNamespacesAsTheParserWillSeeThem) {
  const XmlShapeBounds small{.attributesPerElement = 3, .namespacesInScope = 2, .quadraticWork = 1'000'000};
  EXPECT_TRUE(XmlShapeWithinBounds("<r" + Attributes(3) + "/>", small));
  EXPECT_FALSE(XmlShapeWithinBounds("<r" + Attributes(4) + "/>", small));
  // Quoted '>' and '/' and the other quote do not end a tag or a value early.
  EXPECT_FALSE(XmlShapeWithinBounds("<r a='>/\"' b=\"'>\" c='' d=''/>", small));
  // Markup-like text inside comments, CDATA and processing instructions is not markup.
  EXPECT_TRUE(XmlShapeWithinBounds("<r><!-- <x" + Attributes(9) + "> --><![CDATA[<x" + Attributes(9) +
                                       ">]]><?pi <x" + Attributes(9) + "> ?></r>",
                                   small));
  // Namespaces in scope add up down the tree and are let go at each end tag.
  EXPECT_TRUE(XmlShapeWithinBounds("<r xmlns:a='u'><s xmlns:b='u'/><s xmlns='u'></s><s xmlns:c='u'/></r>", small));
  EXPECT_FALSE(XmlShapeWithinBounds("<r xmlns:a='u'><s xmlns:b='u'><t xmlns:c='u'/></s></r>", small));
  // An entity's value is parsed where it is referenced: its start tags count.
  EXPECT_FALSE(XmlShapeWithinBounds("<!DOCTYPE r [<!ENTITY e \"<x" + Attributes(4) + "/>\">]><r>&e;</r>", small));
  EXPECT_TRUE(XmlShapeWithinBounds("<!DOCTYPE r [<!-- it's <x" + Attributes(4) +
                                       "> --><!ENTITY e \"<x a='1'/>\">]><r>&e;</r>",
                                   small));
}

TEST(XmlShape, QuadraticWorkIsCountedBeyondAFreeAllowancePerElement) {
  const XmlShapeBounds bounds{.attributesPerElement = 10'000, .namespacesInScope = 10'000, .quadraticWork = 10'000};
  // Elements within the allowance cost nothing, however many there are.
  EXPECT_TRUE(XmlShapeWithinBounds("<r>" + Repeat("<e" + Attributes(XmlShapeBounds::kFreePerElement) + "/>", 5'000) + "</r>",
                                   bounds));
  // 100 over the allowance costs 100 squared: one such element fits, two do not.
  const std::string heavy = "<e" + Attributes(XmlShapeBounds::kFreePerElement + 100) + "/>";
  EXPECT_TRUE(XmlShapeWithinBounds("<r>" + heavy + "</r>", bounds));
  EXPECT_FALSE(XmlShapeWithinBounds("<r>" + heavy + heavy + "</r>", bounds));
}

}  // namespace
}  // namespace quillbox
