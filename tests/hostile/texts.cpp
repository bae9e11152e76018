#include "hostile/texts.h"

#include "signing/xml_tree_helpers.h"

#include <optional>

namespace quillbox::test {

std::u16string Stylesheet(const std::u16string& body) {
  return u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>" + body +
         u"</xsl:stylesheet>";
}

const std::u16string kCopyDocument = Stylesheet(u"<xsl:template match='/'><xsl:copy-of select='.'/></xsl:template>");

ParsedDoc ParseUtf8(const std::string& utf8) {
  return ParsedDoc(xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), "signed.xml", "UTF-8",
                                 XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

std::optional<std::string> ElementText(xmlDocPtr doc, const char* name) {
  xmlNodePtr root = xmlDocGetRootElement(doc);
  if (root == nullptr) return std::nullopt;
  xmlNodePtr element = xmlStrEqual(root->name, reinterpret_cast<const xmlChar*>(name)) ? root : FindElement(root, name);
  if (element == nullptr) return std::nullopt;
  return Content(element);
}

}  // namespace quillbox::test
