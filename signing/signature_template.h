// The enveloped signature that Sign inserts as the last child of the document's root element,
// built as an xmlsec template that signing then fills in.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/result.h"
#include "common/ole_string.h"

#include <libxml/tree.h>

#include <string>

namespace quillbox {

// Namespace of the ClientSignature property element (UserName, LocalTimeStamp).
inline constexpr const char* kClientSignatureNamespace = "http://quillbox.dev/Schemas/2007/11/SignatureProperty#";
inline constexpr const char* kSignatureIdPrefix = "Signature-";
inline constexpr const char* kSignPropIdPrefix = "SignProp-";

// A fresh GUID as 36 upper-case hexadecimal digits in 8-4-4-4-12 form, without braces; empty
// when the platform cannot make or format one.
OleString CreateGuidText();

// Builds the signature template in `doc` and attaches it to the root element. Advanced exactly
// VARIANT_TRUE adds the Object that carries UserName and LocalTimeStamp (null: an empty element)
// and the Reference to it. Returns the Signature element, or the error of the step that failed;
// elements made so far stay in the document, which is freed with them.
Result<xmlNodePtr> BuildSignatureTemplate(xmlDocPtr doc, VARIANT_BOOL advanced, BSTR userName, BSTR localTimeStamp);

}  // namespace quillbox
