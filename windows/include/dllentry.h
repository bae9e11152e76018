// The library entry point of a module on Windows: the loader calls the DLL's DllMain itself (through
// the C runtime's start-up code), so the hook that the Linux platform needs for it is empty here.
#pragma once

#define QB_DLL_ENTRY_POINT(entry)
