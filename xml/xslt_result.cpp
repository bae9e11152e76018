#include "xml/xslt_result.h"

#include "common/libxml_owners.h"
#include "common/xml_encoding_handler.h"

#include <libxml/encoding.h>
#include <libxml/xmlIO.h>
#include <libxslt/imports.h>
#include <libxslt/xsltutils.h>

#include <new>

namespace quillbox {
namespace {



const xmlChar* OutputEncoding(xsltStylesheetPtr style) {
  const xmlChar* encoding = nullptr;
  XSLT_GET_IMPORT_PTR(encoding, style, encoding)
  return encoding;
}

}  // namespace

bool WritesText(xsltStylesheetPtr style) {
  const xmlChar* method = nullptr;
  XSLT_GET_IMPORT_PTR(method, style, method)
  return style->methodURI == nullptr && xmlStrEqual(method, reinterpret_cast<const xmlChar*>("text"));
}

std::optional<SerializedXml> SerializeXsltResult(xmlDocPtr result, xsltStylesheetPtr style) try {
  if (result == nullptr || style == nullptr) return std::nullopt;
  SerializedXml xml;
  // The converter xsltSaveResultToString would pick: the one of the output encoding, none for
  // UTF-8 (the serialiser's own form); Shift_JIS as the component writes it everywhere (code
  // page 932), so that the text reads back through the converter SerializedXmlToBstr takes.
  UniqueHandler converter;
  if (const xmlChar* encoding = OutputEncoding(style); encoding != nullptr) {
    converter = FindXmlWriteHandler(reinterpret_cast<const char*>(encoding));
    if (!converter) return std::nullopt;
    if (xmlStrEqual(reinterpret_cast<const xmlChar*>(converter->name), reinterpret_cast<const xmlChar*>("UTF-8"))) {
      converter.reset();
    } else {
      xml.encoding = reinterpret_cast<const char*>(encoding);
    }
  }

  BoundedText text;
  UniqueOutputBuffer buffer(xmlOutputBufferCreateIO(BoundedText::Write, nullptr, &text, converter.get()));
  if (!buffer) return std::nullopt;
  static_cast<void>(converter.release());  // the buffer closes it from now on
  // A result tree with nothing in it writes nothing and reports 0 bytes: an empty result, not a
  // failure. A failure is -1 (an unknown method) or a write that failed on the way (a converter
  // error, the length bound), which the buffer keeps and its closing reports.
  const int written = xsltSaveResultTo(buffer.get(), result, style);
  const int closed = xmlOutputBufferClose(buffer.release());
  if (written < 0 || closed < 0 || text.failed) return std::nullopt;
  xml.bytes = std::move(text.bytes);
  return xml;
} catch (const std::bad_alloc&) {
  return std::nullopt;
}

}  // namespace quillbox
