// Late-bound calls on an IDispatch by member name, the way a script engine makes them:
// GetIDsOfNames, then Invoke with the call kind.
#pragma once

#include "common/bstr_owner.h"
#include "host/com_ptr.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillbox::host {

// A failed COM or dispatch call: the status and a readable message that carries it in hexadecimal.
class ComError : public std::runtime_error {
 public:
  ComError(HRESULT status, const std::string& message);
  HRESULT status() const { return status_; }

 private:
  HRESULT status_;
};

// "0x80020006".
std::string HresultHex(HRESULT status);
// A short English name for the common statuses ("Unknown name"); empty for others.
std::string HresultName(HRESULT status);
// Throws ComError for a failed status: "<what>: <name> (0x........)".
void ThrowIfFailed(HRESULT status, std::string_view what);

enum class MemberKind { Unknown, Method, Property };

class DispatchClient {
 public:
  explicit DispatchClient(IDispatch* object) : object_(object) {}

  DISPID IdOf(std::u16string_view name) const;
  // Whether the object's type information describes the member as a method or a property.
  MemberKind KindOf(DISPID id) const;

  // Arguments are in call order; the class reverses them as DISPPARAMS wants.
  Variant Invoke(DISPID id, WORD flags, std::vector<Variant>& arguments, std::u16string_view name) const;
  Variant Get(std::u16string_view name) const;
  void Put(std::u16string_view name, Variant value) const;
  Variant Call(std::u16string_view name, std::vector<Variant> arguments = {}) const;

 private:
  IDispatch* object_;
};

// Convenience makers for arguments.
Variant MakeString(std::u16string_view text);
// Hands `text` itself over as the argument, with no copy.
Variant MakeString(UniqueBstr text);
Variant MakeBool(bool value);
Variant MakeI4(LONG value);
Variant MakeI2(SHORT value);

// Reading results: strings (null BSTR reads empty), booleans and integers, after coercion.
std::u16string ToText(const Variant& value);
// The text of a BSTR result where it lies, without a copy; ToText's copy for any other type.
// The view lives as long as `value` and `coerced`.
std::u16string_view TextView(const Variant& value, std::u16string& coerced);
bool ToBool(const Variant& value);
LONG ToLong(const Variant& value);

}  // namespace quillbox::host
