// TransformDocument. Both texts come from a web page, so neither may make the component read or
// write anything beyond them, and nothing of the XML libraries' process-wide setup outlives the
// call: the parser defaults it switches on are put back with everything else when it returns.
#include "xml/transform_document.h"

#include "xml/call_budget.h"
#include "xml/confined_xslt.h"
#include "xml/quiet_xml_errors.h"
#include "xml/xml_library_use.h"
#include "xml/xml_text.h"
#include "xml/xslt_handles.h"
#include "xml/xslt_result.h"

#include <libexslt/exslt.h>
#include <libxslt/xslt.h>

namespace quillbox {
namespace {

// What one call obtains. The destructor releases it in the component's fixed order, on every
// path: the stylesheet (with its document) or the bare stylesheet document, the result, the
// input document, libxslt's globals, and last the UTF-8 text still held.
struct TransformHoldings {
  Utf8Text text;
  UniqueXmlDoc input;
  UniqueXmlDoc stylesheetDocument;
  UniqueStylesheet stylesheet;
  UniqueXmlDoc result;

  TransformHoldings() = default;
  TransformHoldings(const TransformHoldings&) = delete;
  TransformHoldings& operator=(const TransformHoldings&) = delete;
  ~TransformHoldings() {
    stylesheet.reset();
    stylesheetDocument.reset();
    result.reset();
    input.reset();
    xsltCleanupGlobals();
    text = Utf8Text{};
  }
};

}  // namespace

// Once the call's budget is spent, whatever a step returned is incomplete: the step failed.
Result<UniqueBstr> TransformDocument(BSTR xmlDoc, BSTR xsl) {
  if (xmlDoc == nullptr) return Error::XmlDocEmpty;
  if (xsl == nullptr) return Error::XmlDocEmpty;

  CallBudget budget(std::size_t{SysStringByteLen(xmlDoc)} + SysStringByteLen(xsl));
  QuietXmlErrors quiet;
  ExternalLoadBlocker noExternalEntities;
  StylesheetLoadBlocker noStylesheetLoads;
  TransformHoldings held;

  xmlLoadExtDtdDefaultValue = 1;
  xmlSubstituteEntitiesDefault(1);

  held.text = XmlTextOf(xmlDoc);
  held.input = ParseUntrustedXml(held.text, kXsltprocParseOptions);
  if (!held.input || budget.Exceeded()) return Error::ParsingXml;

  held.text = XmlTextOf(xsl);
  held.stylesheetDocument = ParseUntrustedXml(held.text, kXsltprocParseOptions);
  if (!held.stylesheetDocument || budget.Exceeded()) return Error::ParsingSchemaXml;
  // Both texts are parsed under the one name "noname.xml", and libxslt tells documents apart by
  // name: document('') would find the input document under the stylesheet's name and hand that
  // back. The stylesheet goes by a name of its own; nothing is ever loaded by either name.
  NameAsStylesheet(held.stylesheetDocument.get());
  noStylesheetLoads.ServeStylesheet(held.text);

  // The EXSLT extensions, as xsltproc offers them. libxslt's globals are cleaned up after every
  // call, so they are registered again for each.
  exsltRegisterAll();
  held.stylesheet.reset(xsltParseStylesheetDoc(held.stylesheetDocument.get()));
  if (held.stylesheet) static_cast<void>(held.stylesheetDocument.release());  // the stylesheet frees it now
  if (!held.stylesheet || budget.Exceeded()) return Error::ParsingXsltSchema;

  held.result = ApplyConfined(held.stylesheet.get(), held.input.get(), budget);
  if (!held.result || budget.Exceeded()) return Error::TransformingXml;
  // Markup with such a namespace name or attribute default would not parse again; a text result
  // writes neither.
  if (!WritesText(held.stylesheet.get()) && !SerialisesWellFormed(held.result.get()))
    return Error::TransformingXml;

  // Written as the stylesheet's xsl:output asks, as xsltproc writes it. No text at all means the
  // serialiser gave up (an xsl:output encoding it cannot write, memory, a result longer than the
  // component hands back): that is a failed transformation, not an empty result.
  std::optional<SerializedXml> serialised = SerializeXsltResult(held.result.get(), held.stylesheet.get());
  if (!serialised || budget.Exceeded()) return Error::TransformingXml;
  held.result.reset();
  // The bytes are in the stylesheet's output encoding, UTF-8 when it names none.
  UniqueBstr text(SerializedXmlToBstr(*serialised));
  if (!text) return Error::TransformingXml;
  return text;
}

}  // namespace quillbox
