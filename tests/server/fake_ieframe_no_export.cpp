// A browser library without the protected-mode query.
#include <windows.h>

extern "C" __attribute__((visibility("default"))) int SomethingElse() { return 1; }
