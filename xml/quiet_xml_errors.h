// Keeps libxml2 and libxslt from printing their diagnostics while the component works: inside a
// browser the host's stderr is not ours to write to, and the script learns of failures through
// the error report anyway.
#pragma once

#include <libxml/xmlerror.h>
#include <libxslt/xsltutils.h>

namespace quillbox {

// Silences the libraries' generic and structured error channels for its lifetime and puts back
// whatever handlers the process had before.
class QuietXmlErrors {
 public:
  QuietXmlErrors();
  ~QuietXmlErrors();
  QuietXmlErrors(const QuietXmlErrors&) = delete;
  QuietXmlErrors& operator=(const QuietXmlErrors&) = delete;

  // Discards one diagnostic; usable wherever the libraries take a generic error function.
  static void Discard(void* context, const char* message, ...);

 private:
  xmlGenericErrorFunc xmlGeneric_;
  void* xmlGenericContext_;
  xmlStructuredErrorFunc xmlStructured_;
  void* xmlStructuredContext_;
  xmlGenericErrorFunc xsltGeneric_;
  void* xsltGenericContext_;
};

}  // namespace quillbox
