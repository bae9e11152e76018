// Compiling and applying a stylesheet that a web page supplied: it reads and writes nothing but
// the documents handed to it.
#pragma once

#include "component/xml_text.h"
#include "component/xslt_handles.h"

#include <libxslt/documents.h>

namespace quillbox {

// While it lives, libxslt's document loader (behind xsl:include, xsl:import and document())
// hands back nothing; the loader the process had is put back afterwards. Compile-time loads have
// no transform context to carry security preferences, so this is what stops them.
class StylesheetLoadBlocker {
 public:
  StylesheetLoadBlocker();
  ~StylesheetLoadBlocker();
  StylesheetLoadBlocker(const StylesheetLoadBlocker&) = delete;
  StylesheetLoadBlocker& operator=(const StylesheetLoadBlocker&) = delete;

 private:
  xsltDocLoaderFunc previous_;
};

// Applies `style` to `doc` with no parameters, every file and network access forbidden to the
// stylesheet for this application only and its diagnostics discarded. Null when libxslt yields
// no result, and also when an access was refused or the transformation stopped in error: a
// partial tree is not the stylesheet's result.
UniqueXmlDoc ApplyConfined(xsltStylesheetPtr style, xmlDocPtr doc);

}  // namespace quillbox
