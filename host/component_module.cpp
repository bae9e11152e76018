#include "host/component_module.h"

#include "host/dispatch.h"
#include "host/text.h"

#include <objbase.h>
#include <windows.h>

#include <vector>

namespace quillbox::host {
namespace {

using ServerEntry = HRESULT(STDAPICALLTYPE*)();

void CallServerEntry(const std::string& path, const char* entry) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    throw ComError(HRESULT_FROM_WIN32(GetLastError()), "cannot load the module " + path);
  }
  auto function = reinterpret_cast<ServerEntry>(GetProcAddress(module, entry));
  if (function == nullptr) {
    FreeLibrary(module);
    throw ComError(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), path + " has no entry point " + entry);
  }
  const HRESULT status = function();
  FreeLibrary(module);
  ThrowIfFailed(status, std::string(entry) + " of " + path);
}

}  // namespace

Apartment::Apartment() { ThrowIfFailed(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx"); }

Apartment::~Apartment() { CoUninitialize(); }

std::string DefaultModulePath() {
  std::vector<char> buffer(4096);
  const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::string program(buffer.data(), length);
  const auto slash = program.rfind('/');
  return (slash == std::string::npos ? std::string(".") : program.substr(0, slash)) + "/libquillbox.so";
}

void RegisterModule(const std::string& path) { CallServerEntry(path, "DllRegisterServer"); }

void UnregisterModule(const std::string& path) { CallServerEntry(path, "DllUnregisterServer"); }

void EnsureComponentRegistered() {
  CLSID clsid{};
  if (SUCCEEDED(CLSIDFromProgID(kSignatureProgId, &clsid))) return;
  RegisterModule(DefaultModulePath());
}

ComPtr<IDispatch> CreateObject(std::u16string_view progId) {
  const std::u16string name(progId);
  const std::string printable = Utf16ToUtf8(progId);
  CLSID clsid{};
  ThrowIfFailed(CLSIDFromProgID(name.c_str(), &clsid), "cannot find the class '" + printable + "'");
  ComPtr<IDispatch> object;
  ThrowIfFailed(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.OutVoid()),
                "cannot create an object of the class '" + printable + "'");
  return object;
}

}  // namespace quillbox::host
