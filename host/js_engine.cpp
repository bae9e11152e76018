#include "host/js_engine.h"

#include "host/dispatch.h"
#include "host/text.h"

#include <cstdlib>
#include <new>

namespace quillbox::host::js {
namespace {

constexpr const char* kStateKey = "\xFF" "hostState";

[[noreturn]] void Fatal(void* /*udata*/, const char* message) {
  std::fprintf(stderr, "quillbox: script engine failure: %s\n", message != nullptr ? message : "");
  std::abort();
}

}  // namespace

Engine::Engine(HostState& state) : context_(duk_create_heap(nullptr, nullptr, nullptr, nullptr, Fatal)) {
  if (context_ == nullptr) throw std::bad_alloc();
  duk_push_global_stash(context_);
  duk_push_pointer(context_, &state);
  duk_put_prop_string(context_, -2, kStateKey);
  duk_pop(context_);
}

Engine::~Engine() { duk_destroy_heap(context_); }

HostState& StateOf(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kStateKey);
  auto* state = static_cast<HostState*>(duk_get_pointer(ctx, -1));
  duk_pop_2(ctx);
  return *state;
}

void PushError(duk_context* ctx, const std::string& message, HRESULT status) {
  duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", message.c_str());
  // Duktape blames the C line that made the error; the script line that made the call is what a
  // reader needs.
  for (duk_int_t level = -1;; --level) {
    duk_inspect_callstack_entry(ctx, level);
    if (duk_is_undefined(ctx, -1)) {
      duk_pop(ctx);
      break;
    }
    duk_get_prop_string(ctx, -1, "lineNumber");
    const duk_int_t line = duk_get_int(ctx, -1);
    duk_pop_2(ctx);
    if (line > 0) {
      duk_push_int(ctx, line);
      duk_put_prop_string(ctx, -2, "lineNumber");
      break;
    }
  }
  duk_push_int(ctx, status);
  duk_put_prop_string(ctx, -2, "number");
  duk_push_string(ctx, message.c_str());
  duk_put_prop_string(ctx, -2, "description");
}

void PushQuitMarker(duk_context* ctx) { PushError(ctx, "the script has quit", S_OK); }

void HandleNativeFailure(duk_context* ctx, const std::exception& failure) {
  if (const auto* com = dynamic_cast<const ComError*>(&failure); com != nullptr) {
    PushError(ctx, com->what(), com->status());
  } else if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
    PushError(ctx, "Out of memory (" + HresultHex(E_OUTOFMEMORY) + ")", E_OUTOFMEMORY);
  } else {
    PushError(ctx, failure.what(), E_FAIL);
  }
}

std::u16string ToDisplayText(duk_context* ctx, duk_idx_t index) {
  duk_size_t length = 0;
  const char* bytes = duk_safe_to_lstring(ctx, index, &length);
  std::u16string text = DukToUtf16(std::string_view(bytes, length));
  return text;
}

}  // namespace quillbox::host::js
