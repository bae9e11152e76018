// How a stand-in for a system library exports its entry points, on Linux (the platform's loader
// finds visible symbols) and on Windows (the tests under Wine; GetProcAddress finds the export
// table, and the target links with --kill-at so that stdcall names are undecorated).
#pragma once

#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif
