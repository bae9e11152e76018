// Checks the parsed definition and gives it meaning: types, dispatch identifiers, slots, flags.
#include "diagnostics.h"
#include "model.h"

#include <oaidl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

namespace qbidl {
namespace {

// Interfaces and libraries the platform itself defines; a definition may derive from and import
// only these besides its own.
struct PlatformInterface {
  const char* name;
  Guid iid;
  int slots;
};
const PlatformInterface kPlatformInterfaces[] = {
    {"IUnknown", {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, 3},
    {"IDispatch", {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, 7},
};
const char* const kPlatformIdlFiles[] = {"oaidl.idl", "ocidl.idl", "objidl.idl", "unknwn.idl", "wtypes.idl"};
const ImportedLibrary kStdOle = {"stdole2.tlb", {0x00020430, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, 2, 0};

struct BaseType {
  const char* idl;
  std::uint16_t vt;
  const char* cpp;
};
// Automation types, and how the generated header spells them (LONG is 32-bit, as IDL's long).
const BaseType kBaseTypes[] = {
    {"BSTR", VT_BSTR, "BSTR"},
    {"VARIANT_BOOL", VT_BOOL, "VARIANT_BOOL"},
    {"long", VT_I4, "LONG"},
    {"signed long", VT_I4, "LONG"},
    {"unsigned long", VT_UI4, "ULONG"},
    {"short", VT_I2, "SHORT"},
    {"signed short", VT_I2, "SHORT"},
    {"unsigned short", VT_UI2, "USHORT"},
    {"int", VT_INT, "INT"},
    {"signed int", VT_INT, "INT"},
    {"unsigned int", VT_UINT, "UINT"},
    {"char", VT_I1, "CHAR"},
    {"unsigned char", VT_UI1, "BYTE"},
    {"byte", VT_UI1, "BYTE"},
    {"hyper", VT_I8, "LONGLONG"},
    {"unsigned hyper", VT_UI8, "ULONGLONG"},
    {"float", VT_R4, "float"},
    {"double", VT_R8, "double"},
    {"DATE", VT_DATE, "DATE"},
    {"CY", VT_CY, "CY"},
    {"SCODE", VT_ERROR, "SCODE"},
    {"VARIANT", VT_VARIANT, "VARIANT"},
    {"HRESULT", VT_HRESULT, "HRESULT"},
    {"void", VT_VOID, "void"},
    {"LONG", VT_I4, "LONG"},
    {"ULONG", VT_UI4, "ULONG"},
    {"SHORT", VT_I2, "SHORT"},
    {"USHORT", VT_UI2, "USHORT"},
    {"INT", VT_INT, "INT"},
    {"UINT", VT_UINT, "UINT"},
};

const Attribute* Find(const std::vector<Attribute>& attrs, const char* name) {
  for (const Attribute& a : attrs)
    if (a.name == name) return &a;
  return nullptr;
}

void CheckAllowed(const std::vector<Attribute>& attrs, std::initializer_list<const char*> allowed, const std::string& where) {
  std::set<std::string> seen;
  for (const Attribute& a : attrs) {
    if (std::find_if(allowed.begin(), allowed.end(), [&](const char* n) { return a.name == n; }) == allowed.end())
      throw IdlError(a.line, "attribute '" + a.name + "' is not supported on " + where);
    if (!seen.insert(a.name).second) throw IdlError(a.line, "attribute '" + a.name + "' given twice on " + where);
  }
}

void ExpectArgs(const Attribute& a, std::size_t count) {
  if (a.args.size() != count)
    throw IdlError(a.line, "attribute '" + a.name + "' takes " + std::to_string(count) + " argument" +
                               (count == 1 ? "" : "s") + ", found " + std::to_string(a.args.size()));
}

Guid ParseGuid(const Attribute& a) {
  ExpectArgs(a, 1);
  const std::string& text = a.args[0];
  static const int groups[] = {8, 4, 4, 4, 12};
  std::string hex;
  std::size_t pos = 0;
  for (int g = 0; g < 5; ++g) {
    if (g > 0) {
      if (pos >= text.size() || text[pos] != '-') throw IdlError(a.line, "malformed uuid '" + text + "'");
      ++pos;
    }
    for (int k = 0; k < groups[g]; ++k, ++pos) {
      if (pos >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[pos])))
        throw IdlError(a.line, "malformed uuid '" + text + "'");
      hex += text[pos];
    }
  }
  if (pos != text.size()) throw IdlError(a.line, "malformed uuid '" + text + "'");
  auto field = [&](std::size_t at, std::size_t n) { return std::stoull(hex.substr(at, n), nullptr, 16); };
  Guid g;
  g.data1 = static_cast<std::uint32_t>(field(0, 8));
  g.data2 = static_cast<std::uint16_t>(field(8, 4));
  g.data3 = static_cast<std::uint16_t>(field(12, 4));
  for (int i = 0; i < 8; ++i) g.data4[i] = static_cast<std::uint8_t>(field(16 + 2 * i, 2));
  return g;
}

std::optional<std::string> HelpString(const std::vector<Attribute>& attrs) {
  const Attribute* a = Find(attrs, "helpstring");
  if (a == nullptr) return std::nullopt;
  ExpectArgs(*a, 1);
  return a->args[0];
}

std::int64_t ParseInteger(const Attribute& a, const std::string& text) {
  try {
    std::size_t used = 0;
    const long long value = std::stoll(text, &used, 0);
    if (used != text.size()) throw std::invalid_argument(text);
    return value;
  } catch (const std::exception&) {
    throw IdlError(a.line, "attribute '" + a.name + "' needs a number, found '" + text + "'");
  }
}

Type ResolveType(const TypeRef& ref, const std::map<std::string, std::size_t>& interfaces) {
  Type type;
  int pointers = ref.pointers;
  std::uint16_t vt = 0;
  std::string cpp;
  if (ref.base == "IDispatch" || ref.base == "IUnknown") {
    // An interface pointer is one Automation value; the first '*' belongs to it.
    if (pointers == 0) throw IdlError(ref.line, ref.base + " is only passed as a pointer");
    --pointers;
    vt = ref.base == "IDispatch" ? VT_DISPATCH : VT_UNKNOWN;
    cpp = ref.base + "*";
  } else if (interfaces.count(ref.base) != 0) {
    throw IdlError(ref.line, "interface " + ref.base + " as a parameter type is not supported; use IDispatch*");
  } else {
    const BaseType* base = nullptr;
    for (const BaseType& b : kBaseTypes)
      if (ref.base == b.idl) base = &b;
    if (base == nullptr) throw IdlError(ref.line, "unknown type '" + ref.base + "'");
    vt = base->vt;
    cpp = base->cpp;
  }
  for (int i = 0; i < pointers; ++i) {
    type.chain.push_back(VT_PTR);
    cpp += "*";
  }
  type.chain.push_back(vt);
  type.cpp = cpp;
  return type;
}

Method ResolveMethod(const MethodDecl& decl, const std::map<std::string, std::size_t>& interfaces, int slot,
                     const std::string& where) {
  CheckAllowed(decl.attrs, {"id", "propget", "propput", "propputref", "helpstring", "hidden", "restricted"},
               "method " + decl.name);
  Method m;
  m.name = decl.name;
  m.slot = slot;
  m.helpString = HelpString(decl.attrs);
  const int kinds = (Find(decl.attrs, "propget") ? 1 : 0) + (Find(decl.attrs, "propput") ? 1 : 0) +
                    (Find(decl.attrs, "propputref") ? 1 : 0);
  if (kinds > 1) throw IdlError(decl.line, "method " + decl.name + " has more than one of propget, propput, propputref");
  if (Find(decl.attrs, "propget")) {
    m.invkind = INVOKE_PROPERTYGET;
    m.cppName = "get_" + decl.name;
  } else if (Find(decl.attrs, "propput")) {
    m.invkind = INVOKE_PROPERTYPUT;
    m.cppName = "put_" + decl.name;
  } else if (Find(decl.attrs, "propputref")) {
    m.invkind = INVOKE_PROPERTYPUTREF;
    m.cppName = "putref_" + decl.name;
  } else {
    m.invkind = INVOKE_FUNC;
    m.cppName = decl.name;
  }
  if (const Attribute* id = Find(decl.attrs, "id")) {
    ExpectArgs(*id, 1);
    const std::int64_t value = ParseInteger(*id, id->args[0]);
    if (value < INT32_MIN || value > UINT32_MAX) throw IdlError(id->line, "id " + id->args[0] + " does not fit 32 bits");
    m.memid = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  } else {
    m.memid = 0x60000000 + slot;  // as MIDL numbers members without an id
  }
  m.result = ResolveType(decl.result, interfaces);
  if (m.result.chain != std::vector<std::uint16_t>{VT_HRESULT})
    throw IdlError(decl.result.line, "method " + decl.name + " of " + where + " must return HRESULT");

  for (std::size_t i = 0; i < decl.params.size(); ++i) {
    const ParamDecl& pd = decl.params[i];
    const std::string paramWhere = "parameter " + (pd.name.empty() ? std::to_string(i + 1) : pd.name) + " of " + decl.name;
    CheckAllowed(pd.attrs, {"in", "out", "retval"}, paramWhere);
    Param p;
    p.type = ResolveType(pd.type, interfaces);
    if (p.type.chain.back() == VT_VOID || p.type.chain.back() == VT_HRESULT)
      throw IdlError(pd.line, paramWhere + " cannot have type " + pd.type.base);
    const bool in = Find(pd.attrs, "in") != nullptr;
    const bool out = Find(pd.attrs, "out") != nullptr;
    const bool retval = Find(pd.attrs, "retval") != nullptr;
    if (!in && !out) throw IdlError(pd.line, paramWhere + " needs [in] or [out]");
    if (retval && !out) throw IdlError(pd.line, paramWhere + ": retval needs out");
    if (retval && i + 1 != decl.params.size()) throw IdlError(pd.line, paramWhere + ": retval must be the last parameter");
    if (out && p.type.chain.front() != VT_PTR) throw IdlError(pd.line, paramWhere + ": an [out] parameter must be a pointer");
    p.flags = static_cast<std::uint16_t>((in ? PARAMFLAG_FIN : 0) | (out ? PARAMFLAG_FOUT : 0) | (retval ? PARAMFLAG_FRETVAL : 0));
    p.cppName = pd.name.empty() ? "arg" + std::to_string(i) : pd.name;
    p.name = pd.name.empty() ? std::nullopt : std::optional<std::string>(pd.name);
    m.params.push_back(std::move(p));
  }
  const bool hasRetval = !m.params.empty() && (m.params.back().flags & PARAMFLAG_FRETVAL);
  if (m.invkind == INVOKE_PROPERTYGET && !hasRetval)
    throw IdlError(decl.line, "property getter " + decl.name + " needs an [out, retval] parameter");
  if (m.invkind == INVOKE_PROPERTYPUT || m.invkind == INVOKE_PROPERTYPUTREF) {
    if (m.params.empty() || m.params.back().flags != PARAMFLAG_FIN)
      throw IdlError(decl.line, "property setter " + decl.name + " needs an [in] value as its last parameter");
    // The value of a setter is reached through DISPID_PROPERTYPUT, never by name, so the type
    // library keeps no name for it.
    m.params.back().name.reset();
  }
  return m;
}

}  // namespace

std::string GuidText(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.data1, g.data2, g.data3,
                g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

Model Resolve(const IdlFile& file) {
  for (const auto& [name, line] : file.imports) {
    // A structured binding cannot be captured before C++20's later compilers (clang 14 refuses).
    const std::string& imported = name;
    if (std::find_if(std::begin(kPlatformIdlFiles), std::end(kPlatformIdlFiles),
                     [&imported](const char* known) { return imported == known; }) == std::end(kPlatformIdlFiles))
      throw IdlError(line, "cannot import '" + name + "': only the platform's own definitions (oaidl.idl, ocidl.idl, ...) are known");
  }

  Model model;
  std::map<std::string, std::size_t> byName;
  for (const InterfaceDecl& decl : file.interfaces) {
    if (byName.count(decl.name) != 0) throw IdlError(decl.line, "interface " + decl.name + " is defined twice");
    for (const PlatformInterface& p : kPlatformInterfaces)
      if (decl.name == p.name) throw IdlError(decl.line, "interface " + decl.name + " is the platform's and cannot be redefined");
    byName[decl.name] = model.interfaces.size();
    model.interfaces.push_back({});
  }
  for (std::size_t index = 0; index < file.interfaces.size(); ++index) {
    const InterfaceDecl& decl = file.interfaces[index];
    Interface& itf = model.interfaces[index];
    CheckAllowed(decl.attrs, {"object", "uuid", "dual", "helpstring", "pointer_default", "oleautomation", "hidden",
                              "nonextensible"},
                 "interface " + decl.name);
    itf.name = decl.name;
    itf.inLibrary = decl.insideLibrary;
    if (!Find(decl.attrs, "object")) throw IdlError(decl.line, "interface " + decl.name + " needs the object attribute");
    const Attribute* uuid = Find(decl.attrs, "uuid");
    if (uuid == nullptr) throw IdlError(decl.line, "interface " + decl.name + " needs a uuid");
    itf.iid = ParseGuid(*uuid);
    itf.helpString = HelpString(decl.attrs);
    if (const Attribute* pd = Find(decl.attrs, "pointer_default")) {
      ExpectArgs(*pd, 1);
      if (pd->args[0] != "unique" && pd->args[0] != "ref" && pd->args[0] != "ptr")
        throw IdlError(pd->line, "pointer_default takes unique, ref or ptr, found '" + pd->args[0] + "'");
    }
    itf.baseName = decl.base;
    bool dispatchBase = false;
    if (auto it = byName.find(decl.base); it != byName.end()) {
      if (it->second >= index) throw IdlError(decl.line, "base interface " + decl.base + " must be defined before " + decl.name);
      const Interface& base = model.interfaces[it->second];
      itf.baseSlots = base.totalSlots();
      dispatchBase = (base.typeFlags & TYPEFLAG_FDISPATCHABLE) != 0;
    } else {
      const PlatformInterface* platform = nullptr;
      for (const PlatformInterface& p : kPlatformInterfaces)
        if (decl.base == p.name) platform = &p;
      if (platform == nullptr) throw IdlError(decl.line, "unknown base interface '" + decl.base + "'");
      itf.baseIid = platform->iid;
      itf.baseSlots = platform->slots;
      dispatchBase = decl.base == "IDispatch";
    }
    const bool dual = Find(decl.attrs, "dual") != nullptr;
    if (dual && !dispatchBase) throw IdlError(decl.line, "dual interface " + decl.name + " must derive from IDispatch");
    if (dual) itf.typeFlags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
    if (Find(decl.attrs, "oleautomation")) itf.typeFlags |= TYPEFLAG_FOLEAUTOMATION;
    if (dispatchBase) itf.typeFlags |= TYPEFLAG_FDISPATCHABLE;
    if (Find(decl.attrs, "hidden")) itf.typeFlags |= TYPEFLAG_FHIDDEN;
    if (Find(decl.attrs, "nonextensible")) itf.typeFlags |= TYPEFLAG_FNONEXTENSIBLE;

    std::map<std::pair<std::int32_t, std::uint32_t>, int> taken;  // (memid, invkind) -> line
    std::map<std::int32_t, bool> isProperty;
    std::set<std::string> cppNames;
    for (std::size_t k = 0; k < decl.methods.size(); ++k) {
      const MethodDecl& md = decl.methods[k];
      Method m = ResolveMethod(md, byName, itf.baseSlots + static_cast<int>(k), "interface " + decl.name);
      if (!taken.emplace(std::make_pair(m.memid, m.invkind), md.line).second)
        throw IdlError(md.line, "id " + std::to_string(m.memid) + " is used twice for the same kind of member in " + decl.name);
      const bool property = m.invkind != INVOKE_FUNC;
      if (auto it = isProperty.find(m.memid); it != isProperty.end() && (it->second != property || !property))
        throw IdlError(md.line, "id " + std::to_string(m.memid) + " is used by two different members of " + decl.name);
      isProperty[m.memid] = property;
      if (!cppNames.insert(m.cppName).second) throw IdlError(md.line, "member " + m.cppName + " is declared twice in " + decl.name);
      itf.methods.push_back(std::move(m));
    }
    // Getters and setters of one property must agree on its name.
    for (const Method& a : itf.methods)
      for (const Method& b : itf.methods)
        if (a.memid == b.memid && a.name != b.name)
          throw IdlError(decl.line, "members " + a.name + " and " + b.name + " share id " + std::to_string(a.memid));
  }

  if (!file.library) return model;
  const LibraryDecl& decl = *file.library;
  CheckAllowed(decl.attrs, {"uuid", "version", "helpstring", "lcid"}, "library " + decl.name);
  Library lib;
  lib.name = decl.name;
  const Attribute* uuid = Find(decl.attrs, "uuid");
  if (uuid == nullptr) throw IdlError(decl.line, "library " + decl.name + " needs a uuid");
  lib.libid = ParseGuid(*uuid);
  lib.helpString = HelpString(decl.attrs);
  if (const Attribute* version = Find(decl.attrs, "version")) {
    ExpectArgs(*version, 1);
    const std::string& text = version->args[0];
    const auto dot = text.find('.');
    const std::string major = text.substr(0, dot);
    const std::string minor = dot == std::string::npos ? "0" : text.substr(dot + 1);
    const auto isNumber = [](const std::string& s) {
      return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!isNumber(major) || !isNumber(minor) || std::stoul(major) > 0xFFFF || std::stoul(minor) > 0xFFFF)
      throw IdlError(version->line, "version takes major.minor, found '" + text + "'");
    lib.major = static_cast<std::uint16_t>(std::stoul(major));
    lib.minor = static_cast<std::uint16_t>(std::stoul(minor));
  }
  if (const Attribute* lcid = Find(decl.attrs, "lcid")) {
    ExpectArgs(*lcid, 1);
    const std::int64_t value = ParseInteger(*lcid, lcid->args[0]);
    if (value < 0 || value > 0xFFFFFFFF) throw IdlError(lcid->line, "lcid out of range");
    lib.lcid = lib.textLcid = static_cast<std::uint32_t>(value);
  }
  for (const auto& [name, line] : decl.importlibs) {
    if (name != kStdOle.file) throw IdlError(line, "cannot import type library '" + name + "': only stdole2.tlb is known");
    lib.imports.push_back(kStdOle);
  }

  auto describe = [&](std::size_t index) {
    if (std::find(lib.interfaceOrder.begin(), lib.interfaceOrder.end(), index) == lib.interfaceOrder.end())
      lib.interfaceOrder.push_back(index);
  };
  for (const auto& [name, line] : decl.interfaceRefs) {
    auto it = byName.find(name);
    if (it == byName.end()) throw IdlError(line, "interface " + name + " is not defined");
    describe(it->second);
  }
  std::set<std::string> coclassNames;
  for (const CoclassDecl& cd : decl.coclasses) {
    CheckAllowed(cd.attrs, {"uuid", "helpstring", "noncreatable", "appobject", "hidden"}, "coclass " + cd.name);
    if (!coclassNames.insert(cd.name).second) throw IdlError(cd.line, "coclass " + cd.name + " is defined twice");
    Coclass co;
    co.name = cd.name;
    const Attribute* cu = Find(cd.attrs, "uuid");
    if (cu == nullptr) throw IdlError(cd.line, "coclass " + cd.name + " needs a uuid");
    co.clsid = ParseGuid(*cu);
    co.helpString = HelpString(cd.attrs);
    co.typeFlags = Find(cd.attrs, "noncreatable") ? 0 : TYPEFLAG_FCANCREATE;
    if (Find(cd.attrs, "appobject")) co.typeFlags |= TYPEFLAG_FAPPOBJECT;
    if (Find(cd.attrs, "hidden")) co.typeFlags |= TYPEFLAG_FHIDDEN;
    bool anyDefault = false;
    for (const CoclassMember& member : cd.members) {
      CheckAllowed(member.attrs, {"default", "source"}, "interface " + member.interfaceName + " of coclass " + cd.name);
      auto it = byName.find(member.interfaceName);
      if (it == byName.end()) throw IdlError(member.line, "interface " + member.interfaceName + " is not defined");
      std::int32_t flags = 0;
      if (Find(member.attrs, "default")) {
        flags |= IMPLTYPEFLAG_FDEFAULT;
        anyDefault = true;
      }
      if (Find(member.attrs, "source")) flags |= IMPLTYPEFLAG_FSOURCE;
      describe(it->second);
      co.impls.push_back({it->second, flags});
    }
    if (co.impls.empty()) throw IdlError(cd.line, "coclass " + cd.name + " implements no interface");
    if (!anyDefault) co.impls.front().flags |= IMPLTYPEFLAG_FDEFAULT;  // as MIDL makes the first the default
    lib.coclasses.push_back(std::move(co));
  }
  for (std::size_t index : lib.interfaceOrder) {
    const Interface& itf = model.interfaces[index];
    if (itf.baseIid && std::none_of(lib.imports.begin(), lib.imports.end(),
                                    [](const ImportedLibrary& i) { return i.file == kStdOle.file; }))
      throw IdlError(decl.line, "library " + decl.name + " describes " + itf.name + ", derived from " + itf.baseName +
                                    ", so it needs importlib(\"stdole2.tlb\")");
    if (!itf.baseIid) {
      const std::size_t base = byName.at(itf.baseName);
      if (std::find(lib.interfaceOrder.begin(), lib.interfaceOrder.end(), base) == lib.interfaceOrder.end())
        throw IdlError(decl.line, "library " + decl.name + " describes " + itf.name + " but not its base " + itf.baseName);
    }
  }
  model.library = std::move(lib);
  return model;
}

}  // namespace qbidl
