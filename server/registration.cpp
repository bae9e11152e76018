// Self-registration: the registry script stored in the module, run by the platform's registrar,
// and the type library registered beside it.
#include "server/registration.h"

#include "server/server_module.h"

#include "common/ole_string.h"
#include "common/proc_address.h"

#include <oaidl.h>
#include <atliface.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>

namespace quillbox {
namespace {

constexpr UINT kRegistryScriptId = 101;

// The module's path in the ANSI code page converted to UTF-16; empty on failure.
OleString WidePath(const char* path) {
  const int units = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (units <= 0) return {};
  OleString wide(static_cast<std::size_t>(units), OLESTR('\0'));
  MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), units);
  wide.resize(static_cast<std::size_t>(units - 1));
  return wide;
}

HRESULT RunRegistryScript(bool doRegister) {
  IRegistrar* registrar = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                                reinterpret_cast<void**>(&registrar));
  if (FAILED(hr)) return hr;

  char longPath[MAX_PATH] = {};
  char shortPath[MAX_PATH] = {};
  GetModuleFileNameA(ServerModule.instance, longPath, MAX_PATH);
  GetShortPathNameA(longPath, shortPath, MAX_PATH);
  const OleString path = WidePath(shortPath);

  // The script quotes %MODULE% in single quotes, so quotes inside the path are doubled for the
  // registrar to read back the path itself.
  OleString quoted;
  for (OLECHAR c : path) {
    quoted += c;
    if (c == OLESTR('\'')) quoted += OLESTR('\'');
  }
  registrar->AddReplacement(OLESTR("Module"), quoted.c_str());
  hr = doRegister ? registrar->ResourceRegister(path.c_str(), kRegistryScriptId, OLESTR("REGISTRY"))
                  : registrar->ResourceUnregister(path.c_str(), kRegistryScriptId, OLESTR("REGISTRY"));
  registrar->Release();
  return hr;
}

// Loads the module's own type library, or one in a ".tlb" file beside it; `usedPath` receives the
// path of the attempt that worked.
HRESULT LoadModuleTypeLib(ITypeLib** library, OleString& usedPath) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(ServerModule.instance, path, MAX_PATH);
  usedPath = WidePath(path);
  HRESULT hr = LoadTypeLib(usedPath.c_str(), library);
  if (SUCCEEDED(hr)) return hr;

  // Cut at the last "." of the whole path, stepping by the code page's character boundaries,
  // or append when there is none.
  std::string narrow = path;
  std::size_t dot = std::string::npos;
  for (std::size_t i = 0; i < narrow.size(); ++i)
    if (narrow[i] == '.') dot = i;
  narrow = narrow.substr(0, dot == std::string::npos ? narrow.size() : dot) + ".tlb";
  usedPath = WidePath(narrow.c_str());
  return LoadTypeLib(usedPath.c_str(), library);
}

}  // namespace

HRESULT RegisterServer() {
  HRESULT hr = RunRegistryScript(true);
  if (FAILED(hr)) return hr;
  ITypeLib* library = nullptr;
  OleString path;
  hr = LoadModuleTypeLib(&library, path);
  if (FAILED(hr)) return hr;
  // The help directory is the path up to and including its last separator.
  const auto cut = path.find_last_of(OLESTR("\\/:"));
  OleString helpDir = cut == OleString::npos ? OLESTR("") : path.substr(0, cut + 1);
  // Windows declares both paths as writable strings (LPOLESTR), though it only reads them.
  hr = RegisterTypeLib(library, path.data(), helpDir.data());
  library->Release();
  return hr;
}

HRESULT UnregisterServer() {
  RunRegistryScript(false);
  ITypeLib* library = nullptr;
  OleString path;
  if (SUCCEEDED(LoadModuleTypeLib(&library, path))) {
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(library->GetLibAttr(&attributes))) {
      // Looked up at run time, as the module must also load where the function is missing.
      if (HMODULE oleaut = LoadLibraryA("oleaut32.dll")) {
        using UnRegisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
        if (auto unregister = ProcAddress<UnRegisterFn>(oleaut, "UnRegisterTypeLib")) {
          unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                     attributes->syskind);
        }
        FreeLibrary(oleaut);
      }
      library->ReleaseTLibAttr(attributes);
    }
    library->Release();
  }
  return S_OK;
}

}  // namespace quillbox
