// The checked meaning of an interface definition: what the header and the type library are
// generated from.
#pragma once

#include "ast.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qbidl {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

// A type as a chain of variant types, outermost first: BSTR* is {VT_PTR, VT_BSTR}.
struct Type {
  std::vector<std::uint16_t> chain;
  std::string cpp;  // the C++ spelling, e.g. "BSTR*"
};

struct Param {
  std::optional<std::string> name;  // stored in the type library; setters' values have none
  std::string cppName;              // always present in the C++ declaration
  Type type;
  std::uint16_t flags = 0;  // PARAMFLAG_*
};

struct Method {
  std::string name;     // member name as scripts see it: "XmlDoc"
  std::string cppName;  // slot name as C++ sees it: "get_XmlDoc"
  std::int32_t memid = 0;
  std::uint32_t invkind = 0;  // INVOKE_*
  std::optional<std::string> helpString;
  Type result;
  std::vector<Param> params;
  int slot = 0;
};

struct Interface {
  std::string name;
  Guid iid;
  std::optional<std::string> helpString;
  std::uint32_t typeFlags = 0;
  std::string baseName;
  std::optional<Guid> baseIid;  // set when the base is a platform interface (IUnknown, IDispatch)
  int baseSlots = 0;
  std::vector<Method> methods;
  bool inLibrary = false;
  int totalSlots() const { return baseSlots + static_cast<int>(methods.size()); }
};

struct CoclassImpl {
  std::size_t interfaceIndex;
  std::int32_t flags;  // IMPLTYPEFLAG_*
};

struct Coclass {
  std::string name;
  Guid clsid;
  std::optional<std::string> helpString;
  std::uint32_t typeFlags = 0;
  std::vector<CoclassImpl> impls;
};

struct ImportedLibrary {
  std::string file;
  Guid libid;
  std::uint16_t major = 0, minor = 0;
};

struct Library {
  std::string name;
  Guid libid;
  std::uint16_t major = 0, minor = 0;
  std::uint32_t lcid = 0;          // the locale it registers under
  std::uint32_t textLcid = 0x0409;  // the locale of its names and help strings
  std::optional<std::string> helpString;
  std::vector<ImportedLibrary> imports;
  std::vector<std::size_t> interfaceOrder;  // interfaces described by the library, by index
  std::vector<Coclass> coclasses;
};

struct Model {
  std::vector<Interface> interfaces;  // every interface of the file, in order
  std::optional<Library> library;
};

Model Resolve(const IdlFile& file);
std::string GuidText(const Guid& guid);  // 8-4-4-4-12, upper case, no braces

}  // namespace qbidl
