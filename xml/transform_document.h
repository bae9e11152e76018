// The Transform road: a stylesheet that a page's script hands over as text, applied to XmlDoc.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/bstr.h"
#include "common/result.h"

namespace quillbox {

// The result written as the stylesheet's xsl:output asks, as xsltproc writes it; or the error of
// the step that failed (XmlDocEmpty when either text is missing). Neither text may make the
// component read or write anything beyond the two, and nothing of the XML libraries' setup
// outlives the call. Runs on the calling thread, which needs a deep stack for deep documents.
Result<UniqueBstr> TransformDocument(BSTR xmlDoc, BSTR xsl);

}  // namespace quillbox
