// LoadTypeLib and LoadTypeLibEx: a type library from a .tlb file, or from the TYPELIB resource 1
// of a module file (read as data, the module is not run). Also DispGetIDsOfNames and DispInvoke,
// the dispatch helpers over type information.
#include "typelib_objects.h"
#include "common/boundary.h"

#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

// Registration lives with the registry; it is linked in when present.
#pragma weak RegisterTypeLib

namespace qb::platform::typelib {
namespace {

constexpr std::size_t kMaxTypeLibrarySize = 16u << 20;

// The path as the file system spells it: the inverse of the ANSI conversion callers made.
bool NarrowPath(LPCOLESTR file, std::string& out) {
  std::size_t units = 0;
  while (file[units] != 0) ++units;
  if (units == 0) return false;
  const int bytes = WideCharToMultiByte(CP_ACP, 0, file, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  out.assign(static_cast<std::size_t>(bytes), '\0');
  return WideCharToMultiByte(CP_ACP, 0, file, static_cast<int>(units), out.data(), bytes, nullptr, nullptr) == bytes;
}

HRESULT ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return TYPE_E_CANTLOADLIBRARY;
  struct stat st {};
  HRESULT hr = S_OK;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    hr = TYPE_E_CANTLOADLIBRARY;
  } else if (static_cast<std::uint64_t>(st.st_size) > kMaxTypeLibrarySize) {
    hr = TYPE_E_INVDATAREAD;
  } else {
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
      if (n <= 0) {
        hr = TYPE_E_IOERROR;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  return hr;
}

// The TYPELIB resource 1 of a module file.
HRESULT ReadFromModule(const std::string& path, std::vector<std::uint8_t>& out) {
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return TYPE_E_CANTLOADLIBRARY;
  HRESULT hr = TYPE_E_CANTLOADLIBRARY;
  if (HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB")) {
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, resource)));
    const DWORD size = SizeofResource(module, resource);
    if (bytes != nullptr) {
      out.assign(bytes, bytes + size);
      hr = S_OK;
    }
  }
  FreeLibrary(module);
  return hr;
}

bool IsElf(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F';
}

}  // namespace
}  // namespace qb::platform::typelib

using namespace qb::platform::typelib;

extern "C" {

HRESULT WINAPI LoadTypeLibEx(LPCOLESTR file, REGKIND kind, ITypeLib** typeLib) {
  return quillbox::HresultBoundary([&]() -> HRESULT {
    if (typeLib == nullptr) return E_INVALIDARG;
    *typeLib = nullptr;
    if (file == nullptr) return E_INVALIDARG;
    std::string path;
    if (!NarrowPath(file, path)) return TYPE_E_CANTLOADLIBRARY;

    std::vector<std::uint8_t> bytes;
    if (HRESULT hr = ReadWholeFile(path, bytes); FAILED(hr)) return hr;
    if (IsElf(bytes)) {
      if (HRESULT hr = ReadFromModule(path, bytes); FAILED(hr)) return hr;
    }
    std::unique_ptr<Library> library;
    if (HRESULT hr = ParseTypeLibrary(bytes, library); FAILED(hr)) return hr;
    auto* object = new (std::nothrow) TypeLibObject(std::move(library));
    if (object == nullptr) return E_OUTOFMEMORY;

    if (kind == REGKIND_REGISTER) {
      HRESULT hr = RegisterTypeLib != nullptr ? RegisterTypeLib(object, file, nullptr) : TYPE_E_REGISTRYACCESS;
      if (FAILED(hr)) {
        object->Release();
        return hr;
      }
    }
    *typeLib = object;
    return S_OK;
  });
}

// Loading never registers here (REGKIND_DEFAULT): registration is DllRegisterServer's business.
HRESULT WINAPI LoadTypeLib(LPCOLESTR file, ITypeLib** typeLib) { return LoadTypeLibEx(file, REGKIND_NONE, typeLib); }

HRESULT WINAPI DispGetIDsOfNames(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* ids) {
  if (typeInfo == nullptr) return E_INVALIDARG;
  return typeInfo->GetIDsOfNames(names, count, ids);
}

HRESULT WINAPI DispInvoke(void* instance, ITypeInfo* typeInfo, DISPID member, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (typeInfo == nullptr) return E_INVALIDARG;
  return typeInfo->Invoke(instance, member, flags, params, result, exception, argError);
}

}  // extern "C"
