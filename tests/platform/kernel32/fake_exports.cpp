// A stand-in library with one export, for the library-loading tests.
#include <windows.h>

extern "C" __attribute__((visibility("default"))) int FakeAnswer() { return 42; }
