// Runs one script with the objects of a Windows script host.
#pragma once

#include "host/js_engine.h"

#include <string_view>

namespace quillbox::host {

// Runs `source` (UTF-8) under the name `fileName`. Returns the exit status: 0 when the script
// ends, the code given to WScript.Quit, or 1 after an uncaught error, whose message goes to
// `state.err`. Every COM object the script held is released before this returns.
int RunScriptSource(js::HostState& state, std::string_view source, std::string_view fileName);

}  // namespace quillbox::host
