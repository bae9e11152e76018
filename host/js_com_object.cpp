// Script objects over IDispatch. Each is a Proxy whose traps turn property reads into
// DISPATCH_PROPERTYGET, writes into DISPATCH_PROPERTYPUT and calls into
// DISPATCH_METHOD|DISPATCH_PROPERTYGET, by name, through GetIDsOfNames and Invoke.
#include "host/js_engine.h"
#include "host/js_variant.h"

#include "host/dispatch.h"
#include "host/text.h"

#include <vector>

namespace quillbox::host::js {
namespace {

// Hidden keys are never seen by Proxy traps, so they read the target's own slots.
constexpr const char* kDispatchKey = "\xFF" "dispatch";
constexpr const char* kHandlerKey = "\xFF" "comHandler";
constexpr const char* kTargetKey = "\xFF" "target";
constexpr const char* kIdKey = "\xFF" "dispid";
constexpr const char* kNameKey = "\xFF" "name";

IDispatch* TargetDispatch(duk_context* ctx, duk_idx_t target) {
  duk_get_prop_string(ctx, target, kDispatchKey);
  auto* object = static_cast<IDispatch*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  return object;
}

IDispatch* LiveDispatch(duk_context* ctx, duk_idx_t target) {
  IDispatch* object = TargetDispatch(ctx, target);
  if (object == nullptr) ThrowIfFailed(E_UNEXPECTED, "the object has been released");
  return object;
}

duk_ret_t FinalizeTarget(duk_context* ctx) {
  // Finalizers must not throw; releasing cannot fail.
  if (IDispatch* object = TargetDispatch(ctx, 0); object != nullptr) {
    duk_push_pointer(ctx, nullptr);
    duk_put_prop_string(ctx, 0, kDispatchKey);
    object->Release();
    --StateOf(ctx).liveObjects;
  }
  return 0;
}

// obj.Member(...): a method call, which also accepts a property that takes arguments.
duk_ret_t CallMember(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    const duk_idx_t count = duk_get_top(ctx);
    duk_push_current_function(ctx);
    duk_get_prop_string(ctx, -1, kTargetKey);
    IDispatch* object = LiveDispatch(ctx, -1);
    duk_get_prop_string(ctx, -2, kIdKey);
    const auto id = static_cast<DISPID>(duk_get_int(ctx, -1));
    duk_get_prop_string(ctx, -3, kNameKey);
    duk_size_t length = 0;
    const char* nameBytes = duk_get_lstring(ctx, -1, &length);
    const std::u16string name = DukToUtf16(std::string_view(nameBytes, length));
    duk_pop_n(ctx, 4);

    std::vector<Variant> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (duk_idx_t i = 0; i < count; ++i) arguments.push_back(ToVariant(ctx, i));
    Variant result = DispatchClient(object).Invoke(id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments, name);
    PushVariant(ctx, *result.get());
    return 1;
  });
}

void PushMemberFunction(duk_context* ctx, duk_idx_t target, DISPID id, duk_idx_t key) {
  duk_push_c_function(ctx, CallMember, DUK_VARARGS);
  duk_dup(ctx, target);
  duk_put_prop_string(ctx, -2, kTargetKey);
  duk_push_int(ctx, id);
  duk_put_prop_string(ctx, -2, kIdKey);
  duk_dup(ctx, key);
  duk_put_prop_string(ctx, -2, kNameKey);
}

std::u16string KeyName(duk_context* ctx, duk_idx_t key) {
  duk_size_t length = 0;
  const char* bytes = duk_get_lstring(ctx, key, &length);
  return DukToUtf16(std::string_view(bytes, length));
}

// get(target, key, receiver)
duk_ret_t GetTrap(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    if (duk_is_symbol(ctx, 1) || !duk_is_string(ctx, 1)) {
      duk_push_undefined(ctx);
      return 1;
    }
    DispatchClient client(LiveDispatch(ctx, 0));
    const std::u16string name = KeyName(ctx, 1);
    const DISPID id = client.IdOf(name);
    if (client.KindOf(id) == MemberKind::Method) {
      PushMemberFunction(ctx, 0, id, 1);
      return 1;
    }
    std::vector<Variant> none;
    try {
      Variant value = client.Invoke(id, DISPATCH_PROPERTYGET, none, name);
      PushVariant(ctx, *value.get());
    } catch (const ComError& failure) {
      // Without type information a method only shows itself by refusing to be read.
      if (failure.status() != DISP_E_MEMBERNOTFOUND) throw;
      PushMemberFunction(ctx, 0, id, 1);
    }
    return 1;
  });
}

// set(target, key, value, receiver)
duk_ret_t SetTrap(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    if (duk_is_symbol(ctx, 1) || !duk_is_string(ctx, 1)) {
      duk_push_false(ctx);
      return 1;
    }
    DispatchClient client(LiveDispatch(ctx, 0));
    const std::u16string name = KeyName(ctx, 1);
    std::vector<Variant> arguments;
    arguments.push_back(ToVariant(ctx, 2));
    client.Invoke(client.IdOf(name), DISPATCH_PROPERTYPUT, arguments, name);
    duk_push_true(ctx);
    return 1;
  });
}

void PushHandler(duk_context* ctx) {
  duk_push_global_stash(ctx);
  if (!duk_get_prop_string(ctx, -1, kHandlerKey)) {
    duk_pop(ctx);
    duk_push_object(ctx);
    duk_push_c_function(ctx, GetTrap, 3);
    duk_put_prop_string(ctx, -2, "get");
    duk_push_c_function(ctx, SetTrap, 4);
    duk_put_prop_string(ctx, -2, "set");
    duk_dup_top(ctx);
    duk_put_prop_string(ctx, -3, kHandlerKey);
  }
  duk_remove(ctx, -2);
}

}  // namespace

void PushDispatch(duk_context* ctx, IDispatch* object) {
  if (object == nullptr) {
    duk_push_null(ctx);
    return;
  }
  duk_push_object(ctx);
  duk_push_c_function(ctx, FinalizeTarget, 2);
  duk_set_finalizer(ctx, -2);
  object->AddRef();
  ++StateOf(ctx).liveObjects;
  duk_push_pointer(ctx, object);
  duk_put_prop_string(ctx, -2, kDispatchKey);
  PushHandler(ctx);
  duk_push_proxy(ctx, 0);
}

IDispatch* DispatchOf(duk_context* ctx, duk_idx_t index) {
  if (!duk_is_object(ctx, index)) return nullptr;
  return TargetDispatch(ctx, duk_normalize_index(ctx, index));
}

}  // namespace quillbox::host::js
