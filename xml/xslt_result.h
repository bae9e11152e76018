// Writing a transformation's result the way its stylesheet's xsl:output asks.
#pragma once

#include "xml/xml_text.h"

#include <libxslt/xsltInternals.h>

#include <optional>

namespace quillbox {

// Whether the stylesheet's output method is "text": its result is not markup.
bool WritesText(xsltStylesheetPtr style);

// The result as libxslt's own serialiser writes it (xsltSaveResultTo: the method, encoding,
// indentation, declaration, doctype and CDATA sections of xsl:output), in the bytes of the
// output encoding, which `encoding` names (empty for UTF-8). An empty result tree gives no bytes
// and succeeds. Nullopt when the serialiser cannot write it: an encoding it has no converter for
// (libxslt would write UTF-8 under a declaration naming another encoding), an output method it
// does not know, memory, or a text longer than kLongestSerializedXml.
std::optional<SerializedXml> SerializeXsltResult(xmlDocPtr result, xsltStylesheetPtr style);

}  // namespace quillbox
