// What DllRegisterServer and DllUnregisterServer do.
#pragma once

#include <windows.h>

namespace quillbox {

HRESULT RegisterServer();
// Always S_OK: every failure of unregistration is ignored.
HRESULT UnregisterServer();

}  // namespace quillbox
