#include "host/script_host.h"

#include "host/js_globals.h"
#include "host/text.h"

#include <string>

namespace quillbox::host {
namespace {

std::string ErrorReport(duk_context* ctx, std::string_view fileName) {
  std::string where(fileName);
  if (duk_is_object(ctx, -1)) {
    duk_get_prop_string(ctx, -1, "lineNumber");
    if (duk_is_number(ctx, -1)) where += ":" + std::to_string(duk_get_int(ctx, -1));
    duk_pop(ctx);
  }
  const std::u16string text = js::ToDisplayText(ctx, -1);
  return where + ": " + Utf16ToUtf8(text) + "\n";
}

}  // namespace

int RunScriptSource(js::HostState& state, std::string_view source, std::string_view fileName) {
  std::string_view body = source;
  if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
  // Through UTF-16, so the script's string literals hold the UTF-16 units the engines of the
  // component's era saw.
  const std::string code = Utf16ToDuk(Utf8ToUtf16(body));
  const std::string name(fileName);

  std::string report;
  int status = 0;
  {
    js::Engine engine(state);
    duk_context* ctx = engine.context();
    js::InstallActiveXObject(ctx);
    js::InstallWScript(ctx);

    duk_push_string(ctx, name.c_str());
    const bool failed = duk_pcompile_lstring_filename(ctx, 0, code.data(), code.size()) != 0 ||
                        duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS;
    if (state.quitting) {
      status = state.quitCode;
    } else if (failed) {
      report = ErrorReport(ctx, name);
      status = 1;
    }
    duk_pop(ctx);
  }
  if (!report.empty()) {
    std::fwrite(report.data(), 1, report.size(), state.err);
    std::fflush(state.err);
  }
  std::fflush(state.out);
  return status;
}

}  // namespace quillbox::host
