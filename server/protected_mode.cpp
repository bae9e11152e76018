#include "server/protected_mode.h"

#include "common/proc_address.h"

#include <windows.h>

namespace quillbox {
namespace {

using IsProtectedModeProcessFn = HRESULT(WINAPI*)(BOOL* protectedMode);

struct LoadedLibrary {
  HMODULE module;
  ~LoadedLibrary() {
    if (module != nullptr) FreeLibrary(module);
  }
};

}  // namespace

bool IsProtectedMode() {
  const LoadedLibrary browser{LoadLibraryA("ieframe.dll")};
  if (browser.module == nullptr) return false;
  const auto query = ProcAddress<IsProtectedModeProcessFn>(browser.module, "IEIsProtectedModeProcess");
  if (query == nullptr) return false;
  BOOL protectedMode = FALSE;
  const HRESULT status = query(&protectedMode);
  if (SUCCEEDED(status)) return protectedMode != FALSE;
  return status == E_ACCESSDENIED;
}

}  // namespace quillbox
