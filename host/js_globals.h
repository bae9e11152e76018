// The objects a Windows script host puts into a script's global scope.
#pragma once

#include <duktape.h>

namespace quillbox::host::js {

// new ActiveXObject(progId), through the COM runtime.
void InstallActiveXObject(duk_context* ctx);
// WScript: Echo, Quit, Arguments, StdIn, StdOut, StdErr, ScriptName.
void InstallWScript(duk_context* ctx);

}  // namespace quillbox::host::js
