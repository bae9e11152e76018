// The bytes of a transformation's result: the component hands back characters, and a file holds
// them in the encoding the stylesheet's xsl:output names, as xsltproc writes them.
#pragma once

#include <string>
#include <string_view>

namespace quillbox::host {

// The encoding that the stylesheet's xsl:output asks for (the last one that names one, as libxslt
// takes it), or "" when none does. Only the stylesheet's own document is read: the component
// refuses xsl:include and xsl:import, so a stylesheet it ran has no other part. A text that does
// not parse names none.
std::string StylesheetOutputEncoding(std::u16string_view stylesheet);

// `text` in the bytes libxml2's output buffer writes for `encoding` ("" or a name of UTF-8:
// UTF-8), byte-order mark included where its converter writes one. A character the encoding
// lacks becomes a character reference, as the serialiser writes it; the component's text holds
// none, since it was serialised in that encoding. Throws EncodingError for an encoding libxml2
// has no converter for.
std::string EncodeXsltOutput(std::u16string_view text, const std::string& encoding);

}  // namespace quillbox::host
