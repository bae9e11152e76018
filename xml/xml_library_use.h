// The component is a guest in its host's process. libxml2, libxslt and xmlsec keep settings and
// hooks for the whole process (libxml2's parser defaults for each thread), which Sign and
// Transform change while they work; the host's own use of the same libraries, before and after,
// must see them as it left them, also once the module is unloaded and nothing of it may be
// pointed to. And the libraries are not safe to drive from two threads at once, as two objects on
// two apartment threads would.
#pragma once

#include <libxml/parser.h>
#include <libxslt/documents.h>
#include <libxslt/security.h>

#include <mutex>

namespace quillbox {

// Held around a call's whole use of the XML libraries: takes the process-wide lock that orders
// the calls of every object on every thread (the same thread may take it again), notes every
// setting and hook the call may change, and puts each back when it ends.
class XmlLibraryUse {
 public:
  XmlLibraryUse();
  ~XmlLibraryUse();
  XmlLibraryUse(const XmlLibraryUse&) = delete;
  XmlLibraryUse& operator=(const XmlLibraryUse&) = delete;

 private:
  std::unique_lock<std::recursive_mutex> lock_;
  int loadExtDtd_;
  int substituteEntities_;
  int indentTreeOutput_;
  const char* treeIndentString_;
  int keepBlanks_;
  int lineNumbers_;
  int pedantic_;
  int validate_;
  int warnings_;
  int saveNoEmptyTags_;
  xmlExternalEntityLoader entityLoader_;
  xsltDocLoaderFunc documentLoader_;
  xsltSecurityPrefsPtr securityPrefs_;
  int xsltMaxDepth_;
  int xsltMaxVars_;
};

}  // namespace quillbox
