// Registry scripts stored as resources of a module file. The module is opened as a data file, so
// its code never runs: registering a module must not depend on loading it.
#include "registrar_source.h"

#include <string>

namespace qb::platform::registrar {
namespace {

HRESULT LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : fallback);
}

class DataFile {
 public:
  explicit DataFile(const std::string& path) : module_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~DataFile() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

// `name` and `type` are resource names as FindResourceA takes them (a text, "#number", or an
// integer resource).
ScriptText Read(LPCOLESTR moduleFile, LPCSTR name, LPCSTR type) {
  SetLastError(ERROR_SUCCESS);
  DataFile module(AnsiFromWide(moduleFile));
  if (module.get() == nullptr) return {LastErrorOr(ERROR_MOD_NOT_FOUND), {}};
  HRSRC resource = FindResourceA(module.get(), name, type);
  if (resource == nullptr) return {LastErrorOr(ERROR_RESOURCE_NAME_NOT_FOUND), {}};
  HGLOBAL data = LoadResource(module.get(), resource);
  const void* bytes = data != nullptr ? LockResource(data) : nullptr;
  if (bytes == nullptr) return {LastErrorOr(ERROR_RESOURCE_DATA_NOT_FOUND), {}};
  const DWORD size = SizeofResource(module.get(), resource);
  return {S_OK, DecodeScriptBytes(static_cast<const BYTE*>(bytes), size)};
}

}  // namespace

ScriptText ScriptFromResource(LPCOLESTR moduleFile, LPCOLESTR id, LPCOLESTR type) {
  if (moduleFile == nullptr || id == nullptr || type == nullptr) return {E_INVALIDARG, {}};
  const std::string name = AnsiFromWide(id);
  const std::string typeName = AnsiFromWide(type);
  return Read(moduleFile, name.c_str(), typeName.c_str());
}

ScriptText ScriptFromResource(LPCOLESTR moduleFile, UINT id, LPCOLESTR type) {
  if (moduleFile == nullptr || type == nullptr || id == 0 || id > 0xFFFF) return {E_INVALIDARG, {}};
  const std::string typeName = AnsiFromWide(type);
  return Read(moduleFile, MAKEINTRESOURCEA(id), typeName.c_str());
}

}  // namespace qb::platform::registrar
