// CoGetClassObject, CoCreateInstance and the process's table of loaded in-process servers.
//
// A server module is loaded once (one LoadLibraryA reference held by the runtime) and stays until
// CoFreeUnusedLibraries finds that its DllCanUnloadNow answers S_OK. A call into the module's
// DllGetClassObject marks its entry busy, so a concurrent CoFreeUnusedLibraries never unloads the
// code under a running call.
#include "com_runtime.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <vector>

namespace qb::platform::com {
namespace {

struct LoadedServer {
  HMODULE module = nullptr;
  LPFNGETCLASSOBJECT getClassObject = nullptr;
  LPFNCANUNLOADNOW canUnloadNow = nullptr;
  int busy = 0;
};

struct ServerTable {
  std::mutex lock;
  std::vector<std::unique_ptr<LoadedServer>> servers;
};

ServerTable& Servers() {
  static auto* table = new ServerTable;  // servers may be released during process exit
  return *table;
}

std::string AnsiPath(std::u16string path) {
  if (path.size() >= 2 && path.front() == u'"' && path.back() == u'"') path = path.substr(1, path.size() - 2);
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

// Loads (or finds) the server and marks it busy; the caller calls Release(server) afterwards.
HRESULT Acquire(const std::string& path, LoadedServer*& acquired) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) return CO_E_DLLNOTFOUND;
  ServerTable& table = Servers();
  std::lock_guard guard(table.lock);
  for (auto& server : table.servers) {
    if (server->module == module) {
      FreeLibrary(module);  // the table's reference already keeps it
      ++server->busy;
      acquired = server.get();
      return S_OK;
    }
  }
  auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
  if (getClassObject == nullptr) {
    FreeLibrary(module);
    return CO_E_ERRORINDLL;
  }
  auto server = std::make_unique<LoadedServer>();
  server->module = module;
  server->getClassObject = getClassObject;
  server->canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(module, "DllCanUnloadNow"));
  server->busy = 1;
  acquired = server.get();
  table.servers.push_back(std::move(server));
  return S_OK;
}

void Release(LoadedServer* server) {
  std::lock_guard guard(Servers().lock);
  --server->busy;
}

HRESULT InprocClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  const std::u16string classKey = u"CLSID\\" + GuidText(clsid) + u"\\InprocServer32";
  auto path = ReadClassesString(classKey);
  if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
  LoadedServer* server = nullptr;
  if (HRESULT loaded = Acquire(AnsiPath(*path), server); FAILED(loaded)) return loaded;
  const HRESULT result = server->getClassObject(clsid, riid, object);
  Release(server);
  return result;
}

}  // namespace
}  // namespace qb::platform::com

extern "C" {

HRESULT WINAPI CoGetClassObject(REFCLSID clsid, DWORD context, COSERVERINFO*, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (!qb::platform::com::ApartmentAvailable()) return CO_E_NOTINITIALIZED;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;  // only in-process servers exist here
  if (IClassFactory* builtIn = qb::platform::com::BuiltInClassObject(clsid)) return builtIn->QueryInterface(riid, object);
  return qb::platform::com::InprocClassObject(clsid, riid, object);
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  IClassFactory* factory = nullptr;
  const HRESULT found = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(found)) return found;
  const HRESULT created = factory->CreateInstance(outer, riid, object);
  factory->Release();
  return created;
}

void WINAPI CoFreeUnusedLibraries() {
  using qb::platform::com::LoadedServer;
  auto& table = qb::platform::com::Servers();
  // DllCanUnloadNow runs outside the table lock, since a server may call back into the runtime;
  // the busy mark keeps the entry alive meanwhile.
  std::vector<LoadedServer*> candidates;
  {
    std::lock_guard guard(table.lock);
    for (auto& server : table.servers) {
      if (server->busy == 0 && server->canUnloadNow != nullptr) {
        ++server->busy;
        candidates.push_back(server.get());
      }
    }
  }
  for (LoadedServer* candidate : candidates) {
    const bool agrees = candidate->canUnloadNow() == S_OK;
    HMODULE unload = nullptr;
    {
      std::lock_guard guard(table.lock);
      --candidate->busy;
      if (agrees && candidate->busy == 0) {
        unload = candidate->module;
        std::erase_if(table.servers, [candidate](const auto& server) { return server.get() == candidate; });
      }
    }
    if (unload != nullptr) FreeLibrary(unload);
  }
}

}  // extern "C"
