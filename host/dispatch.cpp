#include "host/dispatch.h"

#include "host/text.h"

#include <cstdio>

namespace quillbox::host {

ComError::ComError(HRESULT status, const std::string& message) : std::runtime_error(message), status_(status) {}

std::string HresultHex(HRESULT status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

std::string HresultName(HRESULT status) {
  switch (status) {
    case DISP_E_UNKNOWNNAME: return "Unknown name";
    case DISP_E_MEMBERNOTFOUND: return "Member not found";
    case DISP_E_TYPEMISMATCH: return "Type mismatch";
    case DISP_E_BADPARAMCOUNT: return "Wrong number of arguments";
    case DISP_E_PARAMNOTFOUND: return "Parameter not found";
    case DISP_E_OVERFLOW: return "Overflow";
    case DISP_E_EXCEPTION: return "Exception occurred";
    case DISP_E_BADVARTYPE: return "Bad variable type";
    case DISP_E_NONAMEDARGS: return "Does not support named arguments";
    case E_NOINTERFACE: return "No such interface supported";
    case E_OUTOFMEMORY: return "Out of memory";
    case E_INVALIDARG: return "Invalid argument";
    case E_FAIL: return "Unspecified error";
    case REGDB_E_CLASSNOTREG: return "Class not registered";
    case CO_E_CLASSSTRING: return "Invalid class string";
    case CO_E_NOTINITIALIZED: return "CoInitialize has not been called";
    case TYPE_E_LIBNOTREGISTERED: return "Library not registered";
    default: return "";
  }
}

void ThrowIfFailed(HRESULT status, std::string_view what) {
  if (SUCCEEDED(status)) return;
  std::string message(what);
  const std::string name = HresultName(status);
  message += ": ";
  message += name.empty() ? "error" : name;
  message += " (" + HresultHex(status) + ")";
  throw ComError(status, message);
}

DISPID DispatchClient::IdOf(std::u16string_view name) const {
  std::u16string copy(name);
  LPOLESTR names[] = {copy.data()};
  DISPID id = DISPID_UNKNOWN;
  ThrowIfFailed(object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), "'" + Utf16ToUtf8(name) + "'");
  return id;
}

MemberKind DispatchClient::KindOf(DISPID id) const {
  UINT count = 0;
  if (FAILED(object_->GetTypeInfoCount(&count)) || count == 0) return MemberKind::Unknown;
  ComPtr<ITypeInfo> info;
  if (FAILED(object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Out())) || !info) return MemberKind::Unknown;
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes)) || attributes == nullptr) return MemberKind::Unknown;
  const WORD functions = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  MemberKind kind = MemberKind::Unknown;
  for (UINT index = 0; index < functions && kind == MemberKind::Unknown; ++index) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(index, &function)) || function == nullptr) continue;
    if (function->memid == id) kind = function->invkind == INVOKE_FUNC ? MemberKind::Method : MemberKind::Property;
    info->ReleaseFuncDesc(function);
  }
  return kind;
}

Variant DispatchClient::Invoke(DISPID id, WORD flags, std::vector<Variant>& arguments, std::u16string_view name) const {
  std::vector<VARIANT> reversed;
  reversed.reserve(arguments.size());
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) reversed.push_back(*it->get());
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = reversed.empty() ? nullptr : reversed.data();
  params.cArgs = static_cast<UINT>(reversed.size());
  if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  Variant result;
  EXCEPINFO exception{};
  UINT badArgument = 0;
  const bool wantsResult = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) == 0;
  const HRESULT status = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                         wantsResult ? result.get() : nullptr, &exception, &badArgument);
  // The arguments stay owned by `arguments`; the copies in `reversed` are shallow.
  if (status == DISP_E_EXCEPTION) {
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    std::string description = Utf16ToUtf8(BstrView(exception.bstrDescription));
    const HRESULT code = exception.scode != 0 ? exception.scode : DISP_E_EXCEPTION;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    std::string message = "'" + Utf16ToUtf8(name) + "': " + (description.empty() ? "Exception occurred" : description) +
                          " (" + HresultHex(code) + ")";
    throw ComError(code, message);
  }
  ThrowIfFailed(status, "'" + Utf16ToUtf8(name) + "'");
  return result;
}

Variant DispatchClient::Get(std::u16string_view name) const {
  std::vector<Variant> none;
  return Invoke(IdOf(name), DISPATCH_PROPERTYGET, none, name);
}

void DispatchClient::Put(std::u16string_view name, Variant value) const {
  std::vector<Variant> arguments;
  arguments.push_back(std::move(value));
  Invoke(IdOf(name), DISPATCH_PROPERTYPUT, arguments, name);
}

Variant DispatchClient::Call(std::u16string_view name, std::vector<Variant> arguments) const {
  return Invoke(IdOf(name), DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments, name);
}

Variant MakeString(std::u16string_view text) {
  Variant value;
  value->vt = VT_BSTR;
  value->bstrVal = UniqueBstr::Copy(text).release();
  return value;
}

Variant MakeString(UniqueBstr text) {
  Variant value;
  value->vt = VT_BSTR;
  value->bstrVal = text ? text.release() : UniqueBstr::Copy(u"").release();
  return value;
}

Variant MakeBool(bool on) {
  Variant value;
  value->vt = VT_BOOL;
  value->boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
  return value;
}

Variant MakeI4(LONG number) {
  Variant value;
  value->vt = VT_I4;
  value->lVal = number;
  return value;
}

Variant MakeI2(SHORT number) {
  Variant value;
  value->vt = VT_I2;
  value->iVal = number;
  return value;
}

namespace {

Variant Coerced(const Variant& value, VARTYPE type) {
  Variant out;
  ThrowIfFailed(VariantChangeType(out.get(), value.get(), 0, type), "converting a result");
  return out;
}

}  // namespace

std::u16string ToText(const Variant& value) {
  if (value->vt == VT_BSTR) return std::u16string(BstrView(value->bstrVal));
  if (value->vt == VT_EMPTY || value->vt == VT_NULL) return {};
  const Variant text = Coerced(value, VT_BSTR);
  return std::u16string(BstrView(text->bstrVal));
}

std::u16string_view TextView(const Variant& value, std::u16string& coerced) {
  if (value->vt == VT_BSTR) return BstrView(value->bstrVal);
  coerced = ToText(value);
  return coerced;
}

bool ToBool(const Variant& value) {
  if (value->vt == VT_BOOL) return value->boolVal != VARIANT_FALSE;
  return Coerced(value, VT_BOOL)->boolVal != VARIANT_FALSE;
}

LONG ToLong(const Variant& value) {
  if (value->vt == VT_I4) return value->lVal;
  return Coerced(value, VT_I4)->lVal;
}

}  // namespace quillbox::host
