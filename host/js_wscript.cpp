#include "host/js_engine.h"
#include "host/js_globals.h"

#include "host/dispatch.h"
#include "host/text.h"

#include <cmath>
#include <string>

namespace quillbox::host::js {
namespace {

// The run-time error the era's engines gave for an index out of range.
constexpr HRESULT kSubscriptOutOfRange = QB_HR(0x800A0009);

void Write(std::FILE* stream, const std::u16string& text) {
  const std::string bytes = Utf16ToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

std::u16string JoinedArguments(duk_context* ctx) {
  std::u16string text;
  const duk_idx_t count = duk_get_top(ctx);
  for (duk_idx_t i = 0; i < count; ++i) {
    if (i > 0) text += u' ';
    text += ToDisplayText(ctx, i);
  }
  return text;
}

void PushUtf8String(duk_context* ctx, std::string_view utf8) {
  const std::string bytes = Utf16ToDuk(Utf8ToUtf16(utf8));
  duk_push_lstring(ctx, bytes.data(), bytes.size());
}

duk_ret_t Echo(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    Write(StateOf(ctx).out, JoinedArguments(ctx) + u"\n");
    return 0;
  });
}

duk_ret_t Quit(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    HostState& state = StateOf(ctx);
    state.quitCode = duk_is_number(ctx, 0) ? static_cast<int>(duk_get_int(ctx, 0)) : 0;
    state.quitting = true;
    PushQuitMarker(ctx);
    throw ThrowTop{};
    return 0;
  });
}

// WScript.Arguments(i), WScript.Arguments.Item(i)
duk_ret_t ArgumentAt(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    const auto& arguments = StateOf(ctx).arguments;
    const double index = duk_is_number(ctx, 0) ? duk_get_number(ctx, 0) : -1;
    if (!(index >= 0 && index < static_cast<double>(arguments.size())) || std::trunc(index) != index) {
      ThrowIfFailed(kSubscriptOutOfRange, "WScript.Arguments: subscript out of range");
    }
    PushUtf8String(ctx, arguments[static_cast<std::size_t>(index)]);
    return 1;
  });
}

duk_ret_t ArgumentCount(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    duk_push_uint(ctx, static_cast<duk_uint_t>(StateOf(ctx).arguments.size()));
    return 1;
  });
}

duk_ret_t ReadAll(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    std::string bytes;
    char buffer[65536];
    std::FILE* in = StateOf(ctx).in;
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, got);
    PushUtf8String(ctx, bytes);
    return 1;
  });
}

std::FILE* StreamOf(duk_context* ctx) {
  duk_push_this(ctx);
  duk_get_prop_string(ctx, -1, "\xFF" "err");
  const bool error = duk_get_boolean(ctx, -1) != 0;
  duk_pop_2(ctx);
  return error ? StateOf(ctx).err : StateOf(ctx).out;
}

duk_ret_t StreamWrite(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    Write(StreamOf(ctx), ToDisplayText(ctx, 0));
    return 0;
  });
}

duk_ret_t StreamWriteLine(duk_context* ctx) {
  return Guarded(ctx, [ctx] {
    Write(StreamOf(ctx), (duk_get_top(ctx) > 0 ? ToDisplayText(ctx, 0) : std::u16string()) + u"\n");
    return 0;
  });
}

void PutFunction(duk_context* ctx, const char* name, duk_c_function function, duk_idx_t arguments) {
  duk_push_c_function(ctx, function, arguments);
  duk_put_prop_string(ctx, -2, name);
}

void PushOutputStream(duk_context* ctx, bool error) {
  duk_push_object(ctx);
  duk_push_boolean(ctx, error);
  duk_put_prop_string(ctx, -2, "\xFF" "err");
  PutFunction(ctx, "Write", StreamWrite, 1);
  PutFunction(ctx, "WriteLine", StreamWriteLine, DUK_VARARGS);
}

}  // namespace

void InstallWScript(duk_context* ctx) {
  HostState& state = StateOf(ctx);
  duk_push_object(ctx);
  PutFunction(ctx, "Echo", Echo, DUK_VARARGS);
  PutFunction(ctx, "Quit", Quit, 1);

  duk_push_c_function(ctx, ArgumentAt, 1);
  duk_push_string(ctx, "length");
  duk_push_uint(ctx, static_cast<duk_uint_t>(state.arguments.size()));
  // A function's own length is read-only; redefine it to count the arguments.
  duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE | DUK_DEFPROP_CLEAR_WRITABLE);
  PutFunction(ctx, "Item", ArgumentAt, 1);
  PutFunction(ctx, "Count", ArgumentCount, 0);
  duk_put_prop_string(ctx, -2, "Arguments");

  duk_push_object(ctx);
  PutFunction(ctx, "ReadAll", ReadAll, 0);
  duk_put_prop_string(ctx, -2, "StdIn");
  PushOutputStream(ctx, false);
  duk_put_prop_string(ctx, -2, "StdOut");
  PushOutputStream(ctx, true);
  duk_put_prop_string(ctx, -2, "StdErr");

  PushUtf8String(ctx, state.scriptName);
  duk_put_prop_string(ctx, -2, "ScriptName");
  duk_put_global_string(ctx, "WScript");
}

}  // namespace quillbox::host::js
