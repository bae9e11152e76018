// A separate process for the registration crash and race tests: loads the component module named
// on the command line and calls its DllRegisterServer again and again, against whatever registry
// QUILLBOX_REGISTRY names. One byte goes to standard output after each registration that
// succeeds; the first that fails ends the process with status 1 (its status on standard error),
// and after `count` registrations (0: until killed) it ends with 0.
#include <objbase.h>
#include <windows.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s MODULE COUNT\n", argv[0]);
    return 2;
  }
  const long count = std::strtol(argv[2], nullptr, 10);
  if (FAILED(CoInitializeEx(nullptr, 0))) return 3;
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == nullptr) return 4;
  auto registerServer = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, "DllRegisterServer"));
  if (registerServer == nullptr) return 5;
  for (long done = 0; count == 0 || done < count; ++done) {
    const HRESULT hr = registerServer();
    if (FAILED(hr)) {
      std::fprintf(stderr, "DllRegisterServer failed: 0x%08X\n", static_cast<unsigned>(hr));
      return 1;
    }
    const char tick = 1;
    if (write(STDOUT_FILENO, &tick, 1) != 1) return 6;
  }
  FreeLibrary(module);
  CoUninitialize();
  return 0;
}
