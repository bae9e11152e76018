// Lays the checked model out in the type-library format of formats/typelib_format.h.
#include "emit.h"

#include <typelib_format.h>

#include <oaidl.h>

#include <map>
#include <stdexcept>

namespace qbidl {
namespace {

class Writer {
 public:
  void U8(std::uint8_t v) { bytes.push_back(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void GuidBytes(const Guid& g) {
    U32(g.data1);
    U16(g.data2);
    U16(g.data3);
    for (std::uint8_t b : g.data4) U8(b);
  }
  std::vector<std::uint8_t> bytes;
};

// Names and help strings are ASCII or UTF-8 in the definition; the library holds UTF-16.
std::u16string Utf16(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp;
    int extra;
    if (c < 0x80) { cp = c; extra = 0; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
    else throw std::runtime_error("text is not UTF-8: " + text);
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
        throw std::runtime_error("text is not UTF-8: " + text);
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += 1 + extra;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

class Layout {
 public:
  explicit Layout(const Model& model) : model_(model), lib_(*model.library) {}

  std::vector<std::uint8_t> Build() {
    // Type infos: the interfaces the library describes, then its coclasses.
    for (std::size_t k = 0; k < lib_.interfaceOrder.size(); ++k) typeInfoOf_[lib_.interfaceOrder[k]] = static_cast<std::uint32_t>(k);
    for (std::size_t k = 0; k < lib_.interfaceOrder.size(); ++k) Interface(model_.interfaces[lib_.interfaceOrder[k]]);
    for (const Coclass& co : lib_.coclasses) CoclassInfo(co);
    for (const ImportedLibrary& imp : lib_.imports) {
      imports_.GuidBytes(imp.libid);
      imports_.U16(imp.major);
      imports_.U16(imp.minor);
      imports_.U32(String(imp.file));
    }
    return Assemble();
  }

 private:
  std::uint32_t String(const std::optional<std::string>& text) {
    if (!text) return qb::tlb::kNoString;
    auto [it, fresh] = stringAt_.emplace(*text, 0);
    if (fresh) {
      it->second = static_cast<std::uint32_t>(strings_.bytes.size());
      const std::u16string units = Utf16(*text);
      strings_.U32(static_cast<std::uint32_t>(units.size()));
      for (char16_t u : units) strings_.U16(u);
    }
    return it->second;
  }

  std::uint32_t TypeDesc(const Type& type) {
    // Innermost first, so every element type precedes the pointer to it.
    std::uint32_t index = 0;
    for (auto vt = type.chain.rbegin(); vt != type.chain.rend(); ++vt) {
      const bool innermost = vt == type.chain.rbegin();
      const auto key = std::make_pair(*vt, innermost ? 0u : index);
      auto [it, fresh] = typeDescAt_.emplace(key, typeDescCount_);
      if (fresh) {
        typeDescs_.U16(*vt);
        typeDescs_.U16(0);
        typeDescs_.U32(innermost ? 0 : index);
        ++typeDescCount_;
      }
      index = it->second;
    }
    return index;
  }

  std::uint32_t ImportedReference(const Guid& guid, const std::string& name) {
    std::uint32_t importIndex = 0;
    for (std::size_t i = 0; i < lib_.imports.size(); ++i)
      if (lib_.imports[i].file == "stdole2.tlb") importIndex = static_cast<std::uint32_t>(i);
    references_.GuidBytes(guid);
    references_.U32(qb::tlb::kReferenceImported);
    references_.U32(importIndex);
    references_.U32(String(name));
    return referenceCount_++;
  }

  std::uint32_t InternalReference(std::size_t interfaceIndex) {
    const ::qbidl::Interface& itf = model_.interfaces[interfaceIndex];
    references_.GuidBytes(itf.iid);
    references_.U32(qb::tlb::kReferenceInternal);
    references_.U32(typeInfoOf_.at(interfaceIndex));
    references_.U32(String(itf.name));
    return referenceCount_++;
  }

  void TypeInfoRecord(const Guid& guid, std::uint32_t kind, std::uint32_t flags, const std::string& name,
                      const std::optional<std::string>& help, std::uint16_t cFuncs, std::uint16_t cImpl,
                      std::uint16_t cbSizeVft, std::uint32_t firstFunction, std::uint32_t firstImpl) {
    typeInfos_.GuidBytes(guid);
    typeInfos_.U32(kind);
    typeInfos_.U32(flags);
    typeInfos_.U32(String(name));
    typeInfos_.U32(String(help));
    typeInfos_.U32(0);  // help context
    typeInfos_.U16(0);  // major
    typeInfos_.U16(0);  // minor
    typeInfos_.U16(cFuncs);
    typeInfos_.U16(0);  // cVars
    typeInfos_.U16(cImpl);
    typeInfos_.U16(cbSizeVft);
    typeInfos_.U32(sizeof(void*));  // cbSizeInstance: an interface pointer
    typeInfos_.U16(alignof(void*));
    typeInfos_.U16(0);
    typeInfos_.U32(firstFunction);
    typeInfos_.U32(firstImpl);
    ++typeInfoCount_;
  }

  void Interface(const ::qbidl::Interface& itf) {
    const std::uint32_t firstFunction = functionCount_;
    const std::uint32_t firstImpl = implCount_;
    const std::uint32_t base = itf.baseIid ? ImportedReference(*itf.baseIid, itf.baseName)
                                           : InternalReference(InterfaceIndex(itf.baseName));
    impls_.U32(base);
    impls_.I32(0);
    ++implCount_;
    for (const Method& m : itf.methods) {
      const std::uint32_t firstParam = paramCount_;
      for (const Param& p : m.params) {
        params_.U32(TypeDesc(p.type));
        params_.U16(p.flags);
        params_.U16(0);
        params_.U32(String(p.name));
        ++paramCount_;
      }
      functions_.I32(m.memid);
      functions_.U32(m.invkind);
      functions_.U32(FUNC_PUREVIRTUAL);
      functions_.U32(CC_STDCALL);
      functions_.U16(static_cast<std::uint16_t>(m.slot * sizeof(void*)));
      functions_.U16(0);  // function flags
      functions_.U16(static_cast<std::uint16_t>(m.params.size()));
      functions_.U16(0);  // optional parameters
      functions_.U32(TypeDesc(m.result));
      functions_.U32(String(m.name));
      functions_.U32(String(m.helpString));
      functions_.U32(0);
      functions_.U32(firstParam);
      ++functionCount_;
    }
    TypeInfoRecord(itf.iid, TKIND_INTERFACE, itf.typeFlags, itf.name, itf.helpString,
                   static_cast<std::uint16_t>(itf.methods.size()), 1,
                   static_cast<std::uint16_t>(itf.totalSlots() * sizeof(void*)), firstFunction, firstImpl);
  }

  void CoclassInfo(const Coclass& co) {
    const std::uint32_t firstImpl = implCount_;
    for (const CoclassImpl& impl : co.impls) {
      impls_.U32(InternalReference(impl.interfaceIndex));
      impls_.I32(impl.flags);
      ++implCount_;
    }
    TypeInfoRecord(co.clsid, TKIND_COCLASS, co.typeFlags, co.name, co.helpString, 0,
                   static_cast<std::uint16_t>(co.impls.size()), 0, functionCount_, firstImpl);
  }

  std::size_t InterfaceIndex(const std::string& name) const {
    for (std::size_t i = 0; i < model_.interfaces.size(); ++i)
      if (model_.interfaces[i].name == name) return i;
    throw std::logic_error("unknown interface " + name);
  }

  std::vector<std::uint8_t> Assemble() {
    Writer header;
    for (char c : qb::tlb::kMagic) header.U8(static_cast<std::uint8_t>(c));
    header.U16(qb::tlb::kFormatMajor);
    header.U16(qb::tlb::kFormatMinor);
    header.U32(0);  // file size, patched below
    header.U32(0);  // CRC, patched below
    header.GuidBytes(lib_.libid);
    header.U32(lib_.lcid);
    header.U32(lib_.textLcid);
    header.U32(SYS_WIN32);
    header.U16(lib_.major);
    header.U16(lib_.minor);
    header.U16(0);  // library flags
    header.U16(0);
    header.U32(String(lib_.name));
    header.U32(String(lib_.helpString));
    header.U32(0);                  // help context
    header.U32(qb::tlb::kNoString);  // help file

    const Writer* sections[qb::tlb::kSectionCount] = {&strings_, &typeDescs_, &typeInfos_, &functions_,
                                                      &params_,  &impls_,     &references_, &imports_};
    const std::uint32_t counts[qb::tlb::kSectionCount] = {
        static_cast<std::uint32_t>(strings_.bytes.size()), typeDescCount_, typeInfoCount_, functionCount_,
        paramCount_, implCount_, referenceCount_, static_cast<std::uint32_t>(lib_.imports.size())};
    std::uint32_t offset = static_cast<std::uint32_t>(qb::tlb::kHeaderSize);
    for (std::size_t s = 0; s < qb::tlb::kSectionCount; ++s) {
      header.U32(offset);
      header.U32(counts[s]);
      offset += static_cast<std::uint32_t>(sections[s]->bytes.size());
    }
    std::vector<std::uint8_t> file = std::move(header.bytes);
    if (file.size() != qb::tlb::kHeaderSize) throw std::logic_error("type library header has the wrong size");
    for (const Writer* s : sections) file.insert(file.end(), s->bytes.begin(), s->bytes.end());
    auto put32 = [&](std::size_t at, std::uint32_t v) {
      for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put32(8, static_cast<std::uint32_t>(file.size()));
    put32(qb::tlb::kCrcOffset, qb::tlb::Crc32(file));
    return file;
  }

  const Model& model_;
  const Library& lib_;
  std::map<std::size_t, std::uint32_t> typeInfoOf_;
  std::map<std::string, std::uint32_t> stringAt_;
  std::map<std::pair<std::uint16_t, std::uint32_t>, std::uint32_t> typeDescAt_;
  Writer strings_, typeDescs_, typeInfos_, functions_, params_, impls_, references_, imports_;
  std::uint32_t typeDescCount_ = 0, typeInfoCount_ = 0, functionCount_ = 0, paramCount_ = 0, implCount_ = 0,
                referenceCount_ = 0;
};

}  // namespace

std::vector<std::uint8_t> EmitTypeLibrary(const Model& model) {
  if (!model.library) throw std::runtime_error("the definition has no library, so there is no type library to write");
  return Layout(model).Build();
}

}  // namespace qbidl
