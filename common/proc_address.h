// An export of a module loaded at run time, as the function type its caller knows it by.
#pragma once

#include <windows.h>

#include <type_traits>

namespace quillbox {

// GetProcAddress answers FARPROC, a function pointer of no particular signature (on Windows one
// without parameters answering INT_PTR). The cast to the export's own type goes through
// void (*)(), the type that stands for any function pointer without a warning that the types
// differ. Null when the module has no such export.
template <typename Function>
Function ProcAddress(HMODULE module, const char* name) {
  static_assert(std::is_pointer_v<Function> && std::is_function_v<std::remove_pointer_t<Function>>,
                "an export is reached through a function pointer type");
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace quillbox
