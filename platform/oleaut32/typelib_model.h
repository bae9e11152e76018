// A type library as the platform holds it after reading and checking its file: plain data, with
// the Windows descriptions (TYPEATTR, FUNCDESC, ELEMDESC, TYPEDESC) prebuilt over it so the
// interfaces can hand them out without building anything per call.
#pragma once

#include <oleauto.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qb::platform::typelib {

using Text = std::optional<std::u16string>;  // absent and empty differ, as null and empty BSTRs

struct Param {
  std::uint32_t typeDesc = 0;
  USHORT flags = 0;
  Text name;
};

struct Function {
  MEMBERID memid = 0;
  INVOKEKIND invkind = INVOKE_FUNC;
  FUNCKIND funckind = FUNC_PUREVIRTUAL;
  CALLCONV callconv = CC_STDCALL;
  SHORT oVft = 0;
  WORD flags = 0;
  SHORT cParamsOpt = 0;
  std::uint32_t returnType = 0;
  std::u16string name;
  Text doc;
  DWORD helpContext = 0;
  std::vector<Param> params;
  // Prebuilt descriptions; their TYPEDESC pointers point into Library::typeDescs.
  std::vector<ELEMDESC> elemdescs;
  FUNCDESC desc{};
};

struct ImplType {
  HREFTYPE reference = 0;
  INT flags = 0;
};

struct TypeInfoData {
  GUID guid{};
  TYPEKIND kind = TKIND_INTERFACE;
  WORD flags = 0;
  std::u16string name;
  Text doc;
  DWORD helpContext = 0;
  WORD major = 0, minor = 0;
  WORD cbSizeVft = 0;
  ULONG cbSizeInstance = 0;
  WORD cbAlignment = 0;
  std::vector<Function> functions;
  std::vector<ImplType> implTypes;
  TYPEATTR attr{};
};

struct Reference {
  GUID guid{};
  bool imported = false;
  std::uint32_t index = 0;  // TypeInfo index, or Import index
  Text name;
};

struct Import {
  GUID libid{};
  WORD major = 0, minor = 0;
  Text file;
};

struct Library {
  GUID guid{};
  LCID lcid = 0;
  LCID textLcid = 0;
  SYSKIND syskind = SYS_WIN32;
  WORD major = 0, minor = 0, flags = 0;
  Text name;
  Text doc;
  DWORD helpContext = 0;
  Text helpFile;
  std::unique_ptr<TYPEDESC[]> typeDescs;
  std::size_t typeDescCount = 0;
  std::vector<TypeInfoData> types;
  std::vector<Reference> references;
  std::vector<Import> imports;
};

// Reads and checks a type library image. Anything out of bounds, inconsistent or of another
// format version gives a TYPE_E_* code and no library; nothing in `bytes` is trusted.
HRESULT ParseTypeLibrary(std::span<const std::uint8_t> bytes, std::unique_ptr<Library>& out);

}  // namespace qb::platform::typelib
