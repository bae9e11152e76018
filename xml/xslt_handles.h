// Owning handles for the libxslt objects one call creates.
#pragma once

#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>

#include <memory>

namespace quillbox {

// Frees the stylesheet and, once it compiled, the document it was compiled from.
struct StylesheetDeleter {
  void operator()(xsltStylesheetPtr style) const { xsltFreeStylesheet(style); }
};
using UniqueStylesheet = std::unique_ptr<xsltStylesheet, StylesheetDeleter>;

struct TransformContextDeleter {
  void operator()(xsltTransformContextPtr context) const { xsltFreeTransformContext(context); }
};
using UniqueTransformContext = std::unique_ptr<xsltTransformContext, TransformContextDeleter>;

struct SecurityPrefsDeleter {
  void operator()(xsltSecurityPrefsPtr prefs) const { xsltFreeSecurityPrefs(prefs); }
};
using UniqueSecurityPrefs = std::unique_ptr<xsltSecurityPrefs, SecurityPrefsDeleter>;

}  // namespace quillbox
