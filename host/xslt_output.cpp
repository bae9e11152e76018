#include "host/xslt_output.h"

#include "common/libxml_owners.h"
#include "common/xml_encoding_handler.h"

#include "host/text.h"
#include "host/xml_file.h"

#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>

#include <memory>
#include <new>

namespace quillbox::host {
namespace {

constexpr const char* kXsltNamespace = "http://www.w3.org/1999/XSL/Transform";

struct DocFreer {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
struct CharsFreer {
  void operator()(xmlChar* text) const { xmlFree(text); }
};

bool IsXslt(xmlNodePtr node, const char* name) {
  return node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
         xmlStrEqual(node->ns->href, reinterpret_cast<const xmlChar*>(kXsltNamespace)) &&
         xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>(name));
}

// Collects the buffer's bytes. Nothing may be thrown through libxml2's frames.
struct Collected {
  std::string bytes;
  static int Write(void* context, const char* buffer, int length) noexcept try {
    static_cast<Collected*>(context)->bytes.append(buffer, static_cast<std::size_t>(length));
    return length;
  } catch (const std::bad_alloc&) {
    return -1;
  }
};

}  // namespace

std::string StylesheetOutputEncoding(std::u16string_view stylesheet) {
  const std::string utf8 = Utf16ToUtf8(stylesheet);
  // Read as the component reads it: the characters as they are, nothing loaded from elsewhere.
  constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;
  std::unique_ptr<xmlDoc, DocFreer> doc(
      xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), "stylesheet.xsl", "UTF-8", kOptions));
  if (!doc) return {};
  xmlNodePtr root = xmlDocGetRootElement(doc.get());
  // A literal result element used as the stylesheet has no xsl:output.
  if (root == nullptr || !(IsXslt(root, "stylesheet") || IsXslt(root, "transform"))) return {};
  std::string encoding;
  for (xmlNodePtr child = root->children; child != nullptr; child = child->next) {
    if (!IsXslt(child, "output")) continue;
    std::unique_ptr<xmlChar, CharsFreer> value(xmlGetNsProp(child, reinterpret_cast<const xmlChar*>("encoding"), nullptr));
    if (value) encoding = reinterpret_cast<const char*>(value.get());
  }
  return encoding;
}

std::string EncodeXsltOutput(std::u16string_view text, const std::string& encoding) {
  std::string utf8 = Utf16ToUtf8(text);
  if (encoding.empty()) return utf8;
  UniqueHandler converter = FindXmlWriteHandler(encoding);  // Shift_JIS as the component writes it
  if (!converter) throw EncodingError("the encoding '" + encoding + "' is not supported");
  // libxslt writes UTF-8 itself, without a converter.
  if (xmlStrEqual(reinterpret_cast<const xmlChar*>(converter->name), reinterpret_cast<const xmlChar*>("UTF-8"))) return utf8;

  Collected collected;
  UniqueOutputBuffer buffer(
      xmlOutputBufferCreateIO(Collected::Write, nullptr, &collected, converter.get()));
  if (!buffer) throw std::bad_alloc();
  static_cast<void>(converter.release());  // closed with the buffer
  const int wrote = xmlOutputBufferWrite(buffer.get(), static_cast<int>(utf8.size()), utf8.data());
  const int closed = xmlOutputBufferClose(buffer.release());
  if (wrote < 0 || closed < 0) throw EncodingError("the result cannot be written in " + encoding);
  return collected.bytes;
}

}  // namespace quillbox::host
