// Compiling and applying a stylesheet that a web page supplied: it reads and writes nothing but
// the documents handed to it.
#pragma once

#include "xml/call_budget.h"
#include "xml/xml_text.h"
#include "xml/xslt_handles.h"

#include <libxslt/documents.h>

namespace quillbox {

// Transform parses both of its texts as xsltproc parses documents and stylesheets (on top of the
// refusals of ParseUntrustedXml): attributes that the internal DTD subset gives default values
// are there, and CDATA sections are text, as XSLT's data model has them.
inline constexpr int kXsltprocParseOptions = XML_PARSE_DTDATTR | XML_PARSE_NOCDATA;

// While it lives, libxslt's document loader (behind xsl:include, xsl:import and document())
// hands back nothing; the loader the process had is put back afterwards. Compile-time loads have
// no transform context to carry security preferences, so this is what stops them.
//
// The one exception is document('') once a stylesheet text is served: it gets that text parsed
// afresh, as xsltproc reads its stylesheet file again, rather than the tree libxslt compiled
// (stripped of its whitespace). Nothing is read but the text the caller handed over.
class StylesheetLoadBlocker {
 public:
  StylesheetLoadBlocker();
  ~StylesheetLoadBlocker();
  StylesheetLoadBlocker(const StylesheetLoadBlocker&) = delete;
  StylesheetLoadBlocker& operator=(const StylesheetLoadBlocker&) = delete;

  // `text` is the stylesheet's, and outlives the blocker's use of it.
  void ServeStylesheet(const Utf8Text& text);

 private:
  xsltDocLoaderFunc previous_;
  const Utf8Text* previousText_;
};

// Names a parsed stylesheet document as the component knows it, apart from the input document:
// libxslt finds documents by name.
void NameAsStylesheet(xmlDocPtr stylesheet);

// Applies `style` to `doc` with no parameters, every file and network access forbidden to the
// stylesheet for this application only and its diagnostics discarded. Null when libxslt yields
// no result, and also when an access was refused or the transformation stopped in error: a
// partial tree is not the stylesheet's result. The transformation stops once `budget` is spent.
UniqueXmlDoc ApplyConfined(xsltStylesheetPtr style, xmlDocPtr doc, CallBudget& budget);

}  // namespace quillbox
