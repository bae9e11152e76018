// CoInitialize and friends. Objects are handed to callers directly whatever their threading
// model (there are no proxies), so an apartment here is the per-thread initialisation count and
// model that decide which calls are allowed.
#include "com_runtime.h"

#include <atomic>

namespace {

struct Apartment {
  ULONG entries = 0;
  bool multithreaded = false;
};

thread_local Apartment apartment;
std::atomic<int> multithreadedThreads{0};

}  // namespace

namespace qb::platform::com {

bool ApartmentAvailable() { return apartment.entries > 0 || multithreadedThreads.load() > 0; }

}  // namespace qb::platform::com

extern "C" {

HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD flags) {
  constexpr DWORD kKnown = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
  if (reserved != nullptr || (flags & ~kKnown) != 0) return E_INVALIDARG;
  const bool multithreaded = (flags & COINIT_APARTMENTTHREADED) == 0;
  if (apartment.entries > 0) {
    if (apartment.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
    ++apartment.entries;
    return S_FALSE;
  }
  apartment.entries = 1;
  apartment.multithreaded = multithreaded;
  if (multithreaded) ++multithreadedThreads;
  return S_OK;
}

HRESULT WINAPI CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void WINAPI CoUninitialize() {
  if (apartment.entries == 0) return;
  if (--apartment.entries > 0) return;
  if (apartment.multithreaded) --multithreadedThreads;
  // Leaving the apartment gives back the servers that agree to go.
  CoFreeUnusedLibraries();
}

}  // extern "C"
