// The type-library loader on fuzzed files, and every question a client can then ask of what it
// loaded. The file's size and checksum fields are made to fit before loading, so that the fuzzer
// spends its time on the structure behind them rather than on the checksum.
#include <typelib_format.h>

#include "fuzz/fuzz_environment.h"
#include "fuzz/fuzz_support.h"

#include <oaidl.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using quillbox::fuzz::Expect;
using quillbox::fuzz::Text;

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void FitHeader(std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < qb::tlb::kHeaderPrefixSize) return;
  PutU32(bytes, 8, static_cast<std::uint32_t>(bytes.size()));
  PutU32(bytes, qb::tlb::kCrcOffset, 0);
  PutU32(bytes, qb::tlb::kCrcOffset, qb::tlb::Crc32(bytes));
}

template <typename T>
struct Released {
  T* object = nullptr;
  ~Released() {
    if (object != nullptr) object->Release();
  }
};

class Walker {
 public:
  void Library(ITypeLib* library) {
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(library->GetLibAttr(&attributes))) library->ReleaseTLibAttr(attributes);
    const UINT count = library->GetTypeInfoCount();
    for (INT index = -1; index <= static_cast<INT>(count); ++index) Documentation(library, index);
    for (UINT index = 0; index <= count; ++index) {
      TYPEKIND kind{};
      const HRESULT kindResult = library->GetTypeInfoType(index, &kind);
      Released<ITypeInfo> info;
      const HRESULT infoResult = library->GetTypeInfo(index, &info.object);
      Expect(SUCCEEDED(kindResult) == SUCCEEDED(infoResult), "type kind and type information disagree");
      Expect(index < count || FAILED(infoResult), "a type information past the end");
      if (SUCCEEDED(infoResult)) TypeInfo(info.object, 0);
    }
  }

 private:
  static void Documentation(ITypeLib* library, INT index) {
    Text name, doc, file;
    DWORD context = 0;
    library->GetDocumentation(index, name.out(), doc.out(), &context, file.out());
    if (name.get() != nullptr) {
      BOOL found = FALSE;
      library->IsName(name.get(), 0, &found);
      ITypeInfo* infos[4] = {};
      MEMBERID ids[4] = {};
      USHORT wanted = 4;
      if (SUCCEEDED(library->FindName(name.get(), 0, infos, ids, &wanted))) {
        Expect(wanted <= 4, "FindName found more than asked for");
        for (USHORT i = 0; i < wanted; ++i)
          if (infos[i] != nullptr) infos[i]->Release();
      }
    }
  }

  void TypeDesc(ITypeInfo* info, const TYPEDESC& desc, int depth) {
    Expect(depth < 64, "a type description chain does not end");
    if ((desc.vt == VT_PTR || desc.vt == VT_SAFEARRAY) && desc.lptdesc != nullptr) TypeDesc(info, *desc.lptdesc, depth + 1);
    if (desc.vt == VT_USERDEFINED) {
      Released<ITypeInfo> referenced;
      if (SUCCEEDED(info->GetRefTypeInfo(desc.hreftype, &referenced.object))) TypeInfo(referenced.object, depth + 1);
    }
  }

  void TypeInfo(ITypeInfo* info, int depth) {
    if (depth > 8 || !visited_.insert(info).second) return;
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return;
    const WORD functions = attributes->cFuncs;
    const WORD implemented = attributes->cImplTypes;
    TypeDesc(info, attributes->tdescAlias, depth);
    info->ReleaseTypeAttr(attributes);

    Released<ITypeLib> container;
    UINT index = 0;
    if (SUCCEEDED(info->GetContainingTypeLib(&container.object, &index))) Expect(container.object != nullptr, "no container");

    for (UINT i = 0; i <= functions; ++i) {
      FUNCDESC* function = nullptr;
      if (FAILED(info->GetFuncDesc(i, &function))) {
        Expect(i == functions, "a function description could not be read");
        continue;
      }
      Function(info, *function, depth);
      info->ReleaseFuncDesc(function);
    }
    for (UINT i = 0; i <= implemented; ++i) {
      HREFTYPE reference = 0;
      INT flags = 0;
      info->GetImplTypeFlags(i, &flags);
      if (FAILED(info->GetRefTypeOfImplType(i, &reference))) continue;
      Released<ITypeInfo> base;
      if (SUCCEEDED(info->GetRefTypeInfo(reference, &base.object))) TypeInfo(base.object, depth + 1);
    }
    Released<ITypeInfo2> second;
    if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&second.object)))) {
      TYPEKIND kind{};
      second.object->GetTypeKind(&kind);
      ULONG flags = 0;
      second.object->GetTypeFlags(&flags);
    }
  }

  void Function(ITypeInfo* info, const FUNCDESC& function, int depth) {
    Expect(function.cParams >= 0 && function.cParamsOpt <= function.cParams, "parameter counts out of range");
    TypeDesc(info, function.elemdescFunc.tdesc, depth);
    for (SHORT p = 0; p < function.cParams; ++p) TypeDesc(info, function.lprgelemdescParam[p].tdesc, depth);

    BSTR names[8] = {};
    UINT got = 0;
    if (SUCCEEDED(info->GetNames(function.memid, names, 8, &got))) {
      Expect(got <= 8, "GetNames gave more names than asked for");
      if (got > 0 && names[0] != nullptr) {
        std::vector<LPOLESTR> asked(names, names + got);
        std::vector<MEMBERID> ids(got);
        info->GetIDsOfNames(asked.data(), got, ids.data());
      }
      for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
    }
    Text name, doc, file;
    DWORD context = 0;
    info->GetDocumentation(function.memid, name.out(), doc.out(), &context, file.out());
  }

  std::set<ITypeInfo*> visited_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // References to other libraries are looked up in the registry: a private, empty one.
  quillbox::fuzz::UsePrivateRegistry();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  FitHeader(bytes);
  static const std::filesystem::path file = quillbox::fuzz::TemporaryDirectory() / "library.tlb";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  const std::u16string path(file.u16string());
  Released<ITypeLib> library;
  const HRESULT loaded = LoadTypeLib(path.c_str(), &library.object);
  Expect(SUCCEEDED(loaded) == (library.object != nullptr), "LoadTypeLib's result and its library disagree");
  if (SUCCEEDED(loaded)) Walker().Library(library.object);
  return 0;
}
