// XML text in and out of the component: parsing what a page's script handed over, and reading a
// serialised document back into a BSTR, with the characters intact in either direction.
#pragma once

#include "component/bstr.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>

namespace quillbox {

struct XmlDocDeleter {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using UniqueXmlDoc = std::unique_ptr<xmlDoc, XmlDocDeleter>;

struct XmlCharDeleter {
  void operator()(xmlChar* text) const { xmlFree(text); }
};
using UniqueXmlChars = std::unique_ptr<xmlChar, XmlCharDeleter>;

// Parses text that came from a BSTR (so it is UTF-8, whatever encoding its XML declaration names)
// under the name "noname.xml", with the parser's process-wide defaults as the caller set them.
//
// The text comes from a web page, so nothing is loaded from disk or network: a document that
// declares an external DTD subset or uses an external entity fails to parse. Entity expansion is bounded by
// libxml2's amplification checks. Entities of the document's own internal subset still expand.
//
// An encoding named in the declaration other than UTF-8 is kept on the document (when libxml2 can
// write it), so that serialisation writes the declaration and the bytes the caller asked for.
UniqueXmlDoc ParseUntrustedXml(const Utf8Text& text);

// Whether libxml2's serialiser writes every namespace declaration of the tree so that it parses
// again. It writes namespace names unescaped, so a name holding "&" or "<" (which a document can
// declare as "&amp;" or "&lt;") would come out as a document no parser accepts.
bool NamespaceNamesSerialise(xmlDocPtr doc);

// Reads bytes that libxml2 serialised in `encoding` (null: UTF-8) into a new BSTR of exactly the
// decoded length; no bytes give an empty BSTR. A byte-order mark that the serialiser put before a
// UTF-16 document is not part of the text. Null when the bytes do not decode or memory runs out.
BSTR SerializedXmlToBstr(const xmlChar* bytes, int size, const xmlChar* encoding);

// Keeps libxml2 from loading any external resource while it lives (process-wide, restored on
// destruction); counts the loads it refused on this thread.
class ExternalLoadBlocker {
 public:
  ExternalLoadBlocker();
  ~ExternalLoadBlocker();
  ExternalLoadBlocker(const ExternalLoadBlocker&) = delete;
  ExternalLoadBlocker& operator=(const ExternalLoadBlocker&) = delete;
  int Refused() const;

 private:
  xmlExternalEntityLoader previous_;
  int refusedAtStart_;
};

}  // namespace quillbox
