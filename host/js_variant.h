// Values between JavaScript and OLE Automation, converted as the script engines of the
// component's era converted them.
#pragma once

#include "host/com_ptr.h"

#include <duktape.h>

namespace quillbox::host::js {

// Pushes `value`: VT_EMPTY as undefined, VT_NULL as null, a BSTR as a string of its whole length
// (null reads as ""), VT_BOOL as a boolean, the integer and floating types as numbers (VT_UI4 and
// VT_UINT unsigned), VT_CY scaled, VT_DATE as a Date, VT_DISPATCH as a script object. References
// are followed. Throws ComError for types a script cannot hold (arrays, records).
void PushVariant(duk_context* ctx, const VARIANT& value);

// Converts the value at `index`: undefined to VT_EMPTY, null to VT_NULL, a boolean to VT_BOOL, a
// number to VT_I4 when it is an integer that fits and VT_R8 otherwise, a string to a BSTR of its
// whole length (NUL characters kept), a Date to VT_DATE, a COM object back to its IDispatch.
// Throws ComError (type mismatch) for other objects.
Variant ToVariant(duk_context* ctx, duk_idx_t index);

// A script object over `object` (null pushes null); it holds one reference until it is finalised.
void PushDispatch(duk_context* ctx, IDispatch* object);
// The IDispatch behind a script object made by PushDispatch, or null for any other value.
IDispatch* DispatchOf(duk_context* ctx, duk_idx_t index);

}  // namespace quillbox::host::js
