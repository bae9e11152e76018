// Transform: applies a stylesheet that a page's script hands over as text to XmlDoc and gives the
// result back as text. Both texts come from a web page, so neither may make the component read
// or write anything beyond them, and nothing of the XML libraries' process-wide setup outlives the
// call: the parser defaults it switches on are put back with everything else when it returns.
#include "component/bstr.h"
#include "component/call_budget.h"
#include "component/confined_xslt.h"
#include "component/error_report.h"
#include "component/large_stack.h"
#include "component/quiet_xml_errors.h"
#include "component/signature.h"
#include "component/xml_library_use.h"
#include "component/xml_text.h"
#include "component/xslt_handles.h"
#include "component/xslt_result.h"

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

bool Fail(Error error) {
  SetError(error);
  return false;
}

// Runs the transformation; on success `out` holds the serialised result. Records the error of the
// failing step otherwise.
// Once the call's budget is spent, whatever a step returned is incomplete: the step failed.
bool RunTransform(BSTR xmlDoc, BSTR xsl, UniqueBstr& out) {
  if (xmlDoc == nullptr) return Fail(Error::XmlDocEmpty);
  if (xsl == nullptr) return Fail(Error::XmlDocEmpty);

  CallBudget budget(std::size_t{SysStringByteLen(xmlDoc)} + SysStringByteLen(xsl));
  QuietXmlErrors quiet;
  ExternalLoadBlocker noExternalEntities;
  StylesheetLoadBlocker noStylesheetLoads;
  TransformHoldings held;

  xmlLoadExtDtdDefaultValue = 1;
  xmlSubstituteEntitiesDefault(1);

  held.text = XmlTextOf(xmlDoc);
  held.input = ParseUntrustedXml(held.text, kXsltprocParseOptions);
  if (!held.input || budget.Exceeded()) return Fail(Error::ParsingXml);

  held.text = XmlTextOf(xsl);
  held.stylesheetDocument = ParseUntrustedXml(held.text, kXsltprocParseOptions);
  if (!held.stylesheetDocument || budget.Exceeded()) return Fail(Error::ParsingSchemaXml);
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
  if (!held.stylesheet || budget.Exceeded()) return Fail(Error::ParsingXsltSchema);

  held.result = ApplyConfined(held.stylesheet.get(), held.input.get(), budget);
  if (!held.result || budget.Exceeded()) return Fail(Error::TransformingXml);
  // Markup with such a namespace name or attribute default would not parse again; a text result
  // writes neither.
  if (!WritesText(held.stylesheet.get()) && !SerialisesWellFormed(held.result.get()))
    return Fail(Error::TransformingXml);

  // Written as the stylesheet's xsl:output asks, as xsltproc writes it. No text at all means the
  // serialiser gave up (an xsl:output encoding it cannot write, memory, a result longer than the
  // component hands back): that is a failed transformation, not an empty result.
  std::optional<SerializedXml> serialised = SerializeXsltResult(held.result.get(), held.stylesheet.get());
  if (!serialised || budget.Exceeded()) return Fail(Error::TransformingXml);
  held.result.reset();
  // The bytes are in the stylesheet's output encoding, UTF-8 when it names none.
  BSTR text = SerializedXmlToBstr(*serialised);
  if (text == nullptr) return Fail(Error::TransformingXml);
  out.reset(text);
  return true;
}

}  // namespace

HRESULT Signature::Transform(BSTR xsl, BSTR* tml) {
  const XmlLibraryUse libraries;
  UniqueBstr result(SysAllocStringLen(u"", 0));
  ClearErrorState();
  UniqueBstr transformed;
  bool transformedWell = false;
  RunWithLargeStack([&] { transformedWell = RunTransform(XmlDoc_, xsl, transformed); });
  if (transformedWell) result = std::move(transformed);
  if (tml != nullptr) *tml = result.release();
  return S_OK;
}

}  // namespace quillbox
