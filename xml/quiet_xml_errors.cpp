#include "xml/quiet_xml_errors.h"

namespace quillbox {
namespace {

void DiscardStructured(void* /*context*/, xmlErrorPtr /*error*/) {}

}  // namespace

void QuietXmlErrors::Discard(void* /*context*/, const char* /*message*/, ...) {}

QuietXmlErrors::QuietXmlErrors()
    : xmlGeneric_(xmlGenericError),
      xmlGenericContext_(xmlGenericErrorContext),
      xmlStructured_(xmlStructuredError),
      xmlStructuredContext_(xmlStructuredErrorContext),
      xsltGeneric_(xsltGenericError),
      xsltGenericContext_(xsltGenericErrorContext) {
  xmlSetGenericErrorFunc(nullptr, Discard);
  xmlSetStructuredErrorFunc(nullptr, DiscardStructured);
  xsltSetGenericErrorFunc(nullptr, Discard);
}

QuietXmlErrors::~QuietXmlErrors() {
  xsltSetGenericErrorFunc(xsltGenericContext_, xsltGeneric_);
  xmlSetStructuredErrorFunc(xmlStructuredContext_, xmlStructured_);
  xmlSetGenericErrorFunc(xmlGenericContext_, xmlGeneric_);
}

}  // namespace quillbox
