#include "xml/xml_library_use.h"

#include <libxml/globals.h>
#include <libxslt/xslt.h>

namespace quillbox {
namespace {

std::recursive_mutex& TheXmlLibraryLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace

XmlLibraryUse::XmlLibraryUse()
    : lock_(TheXmlLibraryLock()),
      loadExtDtd_(xmlLoadExtDtdDefaultValue),
      substituteEntities_(xmlSubstituteEntitiesDefaultValue),
      indentTreeOutput_(xmlIndentTreeOutput),
      treeIndentString_(xmlTreeIndentString),
      keepBlanks_(xmlKeepBlanksDefaultValue),
      lineNumbers_(xmlLineNumbersDefaultValue),
      pedantic_(xmlPedanticParserDefaultValue),
      validate_(xmlDoValidityCheckingDefaultValue),
      warnings_(xmlGetWarningsDefaultValue),
      saveNoEmptyTags_(xmlSaveNoEmptyTags),
      entityLoader_(xmlGetExternalEntityLoader()),
      documentLoader_(xsltDocDefaultLoader),
      securityPrefs_(xsltGetDefaultSecurityPrefs()),
      xsltMaxDepth_(xsltMaxDepth),
      xsltMaxVars_(xsltMaxVars) {}

XmlLibraryUse::~XmlLibraryUse() {
  xmlLoadExtDtdDefaultValue = loadExtDtd_;
  xmlSubstituteEntitiesDefaultValue = substituteEntities_;
  xmlIndentTreeOutput = indentTreeOutput_;
  xmlTreeIndentString = treeIndentString_;
  xmlKeepBlanksDefaultValue = keepBlanks_;
  xmlLineNumbersDefaultValue = lineNumbers_;
  xmlPedanticParserDefaultValue = pedantic_;
  xmlDoValidityCheckingDefaultValue = validate_;
  xmlGetWarningsDefaultValue = warnings_;
  xmlSaveNoEmptyTags = saveNoEmptyTags_;
  // xmlsec's start installs an entity loader of its own for the process, and its end leaves it
  // there: once the module (and xmlsec with it) is unloaded, the host's next parse would call
  // into unmapped code.
  xmlSetExternalEntityLoader(entityLoader_);
  xsltSetLoaderFunc(documentLoader_);
  xsltSetDefaultSecurityPrefs(securityPrefs_);
  xsltMaxDepth = xsltMaxDepth_;
  xsltMaxVars = xsltMaxVars_;
}

}  // namespace quillbox
