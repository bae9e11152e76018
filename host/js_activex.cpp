#include "host/js_engine.h"
#include "host/js_globals.h"
#include "host/js_variant.h"

#include "host/component_module.h"
#include "host/dispatch.h"
#include "host/text.h"

#include <objbase.h>

namespace quillbox::host::js {
namespace {

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

duk_ret_t ConstructActiveXObject(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    if (!duk_is_constructor_call(ctx)) {
      PushError(ctx, "ActiveXObject must be called with new", E_INVALIDARG);
      throw ThrowTop{};
    }
    if (!duk_is_string(ctx, 0)) ThrowIfFailed(DISP_E_TYPEMISMATCH, "new ActiveXObject needs a programmatic identifier");
    duk_size_t length = 0;
    const char* bytes = duk_get_lstring(ctx, 0, &length);
    const std::u16string progId = DukToUtf16(std::string_view(bytes, length));
    if (StateOf(ctx).registerComponent && SameName(progId, kSignatureProgId)) EnsureComponentRegistered();
    ComPtr<IDispatch> object = CreateObject(progId);
    PushDispatch(ctx, object.get());
    return 1;
  });
}

}  // namespace

void InstallActiveXObject(duk_context* ctx) {
  duk_push_c_function(ctx, ConstructActiveXObject, 1);
  duk_put_global_string(ctx, "ActiveXObject");
}

}  // namespace quillbox::host::js
