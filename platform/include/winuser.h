// The few window-manager names the component touches.
#pragma once

#include "windef.h"

extern "C" {

// A string of the module's string table (RT_STRING blocks of 16); 0 when it is missing. With a
// zero buffer size, LoadStringW stores a read-only pointer to the text into the buffer.
QB_PLATFORM_API int WINAPI LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size);
QB_PLATFORM_API int WINAPI LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size);

}  // extern "C"
