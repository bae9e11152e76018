#include "xml/confined_xslt.h"

#include "xml/quiet_xml_errors.h"

#include <libxml/xmlstring.h>
#include <libxslt/xsltutils.h>

#include <utility>

namespace quillbox {
namespace {

thread_local int refusedAccesses = 0;
thread_local const Utf8Text* servedStylesheet = nullptr;

constexpr const char* kStylesheetName = "noname.xsl";

// Only document('') of the stylesheet being applied, which libxslt asks for by the stylesheet's
// name once the read is permitted (RefuseFileReads).
xmlDocPtr LoadOwnStylesheetOnly(const xmlChar* uri, xmlDictPtr /*dict*/, int /*options*/, void* context,
                                xsltLoadType type) noexcept try {
  if (type != XSLT_LOAD_DOCUMENT || servedStylesheet == nullptr || context == nullptr) return nullptr;
  const auto* transform = static_cast<xsltTransformContextPtr>(context);
  if (transform->style == nullptr || transform->style->doc == nullptr ||
      !xmlStrEqual(uri, transform->style->doc->URL))
    return nullptr;
  UniqueXmlDoc doc = ParseUntrustedXml(*servedStylesheet, kXsltprocParseOptions);
  if (!doc) return nullptr;
  NameAsStylesheet(doc.get());
  return doc->URL != nullptr ? doc.release() : nullptr;  // the transform context frees it
} catch (...) {
  return nullptr;
}

int Refuse(xsltSecurityPrefsPtr /*prefs*/, xsltTransformContextPtr /*context*/, const char* /*target*/) {
  ++refusedAccesses;
  return 0;
}

// document('') names the stylesheet itself. libxslt asks permission to read it by its URL, and
// when the (blocked) loader then hands back nothing it uses the tree it already holds. Letting
// that one name through keeps the idiom working without anything being read.
int RefuseFileReads(xsltSecurityPrefsPtr prefs, xsltTransformContextPtr context, const char* target) {
  if (context != nullptr && context->style != nullptr && context->style->doc != nullptr &&
      context->style->doc->URL != nullptr && target != nullptr &&
      xmlStrEqual(context->style->doc->URL, reinterpret_cast<const xmlChar*>(target))) {
    return 1;
  }
  return Refuse(prefs, context, target);
}

UniqueSecurityPrefs ForbidEveryAccess() {
  UniqueSecurityPrefs prefs(xsltNewSecurityPrefs());
  if (!prefs) return nullptr;
  const bool set = xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_FILE, RefuseFileReads) == 0 &&
                   xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_FILE, Refuse) == 0 &&
                   xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_CREATE_DIRECTORY, Refuse) == 0 &&
                   xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_NETWORK, Refuse) == 0 &&
                   xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_NETWORK, Refuse) == 0;
  return set ? std::move(prefs) : nullptr;
}

}  // namespace

StylesheetLoadBlocker::StylesheetLoadBlocker() : previous_(xsltDocDefaultLoader), previousText_(servedStylesheet) {
  servedStylesheet = nullptr;
  xsltSetLoaderFunc(LoadOwnStylesheetOnly);
}

StylesheetLoadBlocker::~StylesheetLoadBlocker() {
  xsltSetLoaderFunc(previous_);
  servedStylesheet = previousText_;
}

void StylesheetLoadBlocker::ServeStylesheet(const Utf8Text& text) { servedStylesheet = &text; }

void NameAsStylesheet(xmlDocPtr stylesheet) {
  xmlFree(const_cast<xmlChar*>(stylesheet->URL));
  stylesheet->URL = xmlStrdup(reinterpret_cast<const xmlChar*>(kStylesheetName));
}

UniqueXmlDoc ApplyConfined(xsltStylesheetPtr style, xmlDocPtr doc, CallBudget& budget) {
  UniqueSecurityPrefs prefs = ForbidEveryAccess();
  if (!prefs) return nullptr;
  UniqueTransformContext context(xsltNewTransformContext(style, doc));
  if (!context) return nullptr;
  if (xsltSetCtxtSecurityPrefs(prefs.get(), context.get()) != 0) return nullptr;
  xsltSetTransformErrorFunc(context.get(), nullptr, QuietXmlErrors::Discard);
  // Instructions, and XPath steps, each stop at the limit over the stylesheet's whole run: a few
  // nested loops over a document's elements are billions of steps. libxslt hands its own limit
  // to the XPath context it makes only when it makes it.
  context->opLimit = static_cast<unsigned long>(budget.Limits().transformOperations);
  if (context->xpathCtxt != nullptr) context->xpathCtxt->opLimit = context->opLimit;
  budget.Watch(context.get());

  const int refusedBefore = refusedAccesses;
  const char* noParameters[] = {nullptr};
  UniqueXmlDoc result(xsltApplyStylesheetUser(style, doc, noParameters, nullptr, nullptr, context.get()));
  const bool refused = refusedAccesses != refusedBefore;
  const bool failed =
      context->state == XSLT_STATE_ERROR || context->state == XSLT_STATE_STOPPED || budget.Exceeded();
  budget.Watch(nullptr);
  if (refused || failed) return nullptr;
  return result;
}

}  // namespace quillbox
