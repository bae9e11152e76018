// Reading a type library file into the platform's model. The file may come from anywhere (a
// module's resource, a .tlb beside it), so every offset, count and index is checked before use.
#include "typelib_model.h"
#include "common/boundary.h"

#include <typelib_format.h>

#include <cstring>

namespace qb::platform::typelib {
namespace {

namespace tlb = qb::tlb;

// A bounds-checked little-endian cursor over one record.
class Cursor {
 public:
  Cursor(std::span<const std::uint8_t> bytes, std::size_t at) : bytes_(bytes), at_(at) {}
  bool ok() const { return ok_; }
  std::uint8_t U8() {
    if (at_ >= bytes_.size()) {
      ok_ = false;
      return 0;
    }
    return bytes_[at_++];
  }
  std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | (U8() << 8)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(U16()) | (static_cast<std::uint32_t>(U16()) << 16); }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  GUID Guid() {
    GUID g{};
    g.Data1 = U32();
    g.Data2 = U16();
    g.Data3 = U16();
    for (auto& b : g.Data4) b = U8();
    return g;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_;
  bool ok_ = true;
};

struct SectionView {
  std::size_t offset = 0;
  std::uint32_t count = 0;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  HRESULT Read(std::unique_ptr<Library>& out) {
    if (bytes_.size() < tlb::kHeaderPrefixSize) return TYPE_E_INVDATAREAD;
    if (std::memcmp(bytes_.data(), tlb::kMagic.data(), tlb::kMagic.size()) != 0) return TYPE_E_UNSUPFORMAT;
    Cursor head(bytes_, 4);
    if (head.U16() != tlb::kFormatMajor) return TYPE_E_UNSUPFORMAT;
    head.U16();  // minor: later minors only append, which this reader ignores
    const std::uint32_t size = head.U32();
    const std::uint32_t crc = head.U32();
    if (size != bytes_.size() || size < tlb::kHeaderSize) return TYPE_E_INVDATAREAD;
    static constexpr std::uint8_t kZeroCrc[4] = {};
    std::uint32_t actual = tlb::Crc32(bytes_.first(tlb::kCrcOffset));
    actual = tlb::Crc32(kZeroCrc, actual);
    actual = tlb::Crc32(bytes_.subspan(tlb::kCrcOffset + 4), actual);
    if (actual != crc) return TYPE_E_INVDATAREAD;

    auto lib = std::make_unique<Library>();
    if (!Sections() || !Strings() || !LibraryRecord(*lib) || !TypeDescs(*lib) || !Imports(*lib) ||
        !References(*lib) || !TypeInfos(*lib) || !Crosscheck(*lib))
      return TYPE_E_INVDATAREAD;
    out = std::move(lib);
    return S_OK;
  }

 private:
  bool Sections() {
    Cursor c(bytes_, tlb::kSectionTableOffset);
    std::uint64_t previousEnd = tlb::kHeaderSize;
    for (std::size_t s = 0; s < tlb::kSectionCount; ++s) {
      sections_[s].offset = c.U32();
      sections_[s].count = c.U32();
      const std::uint64_t end = std::uint64_t{sections_[s].offset} + std::uint64_t{sections_[s].count} * tlb::kRecordSizes[s];
      // Sections follow each other without overlap and inside the file.
      if (sections_[s].offset < previousEnd || end > bytes_.size()) return false;
      previousEnd = end;
    }
    return c.ok();
  }

  bool Strings() { return true; }  // each string is checked where it is referenced

  bool Str(std::uint32_t ref, Text& out) {
    if (ref == tlb::kNoString) {
      out.reset();
      return true;
    }
    const SectionView& s = sections_[tlb::kStrings];
    if (std::uint64_t{ref} + 4 > s.count) return false;
    Cursor c(bytes_, s.offset + ref);
    const std::uint32_t units = c.U32();
    if (std::uint64_t{ref} + 4 + std::uint64_t{units} * 2 > s.count) return false;
    std::u16string text(units, u'\0');
    for (auto& u : text) u = static_cast<char16_t>(c.U16());
    out = std::move(text);
    return c.ok();
  }
  bool RequiredStr(std::uint32_t ref, std::u16string& out) {
    Text text;
    if (!Str(ref, text) || !text || text->empty()) return false;
    out = std::move(*text);
    return true;
  }

  Cursor Record(tlb::Section section, std::uint32_t index) const {
    return Cursor(bytes_, sections_[section].offset + std::size_t{index} * tlb::kRecordSizes[section]);
  }

  bool LibraryRecord(Library& lib) {
    Cursor c(bytes_, tlb::kHeaderPrefixSize);
    lib.guid = c.Guid();
    lib.lcid = c.U32();
    lib.textLcid = c.U32();
    const std::uint32_t syskind = c.U32();
    if (syskind > SYS_WIN64) return false;
    lib.syskind = static_cast<SYSKIND>(syskind);
    lib.major = c.U16();
    lib.minor = c.U16();
    lib.flags = c.U16();
    if (c.U16() != 0) return false;
    if (!Str(c.U32(), lib.name) || !lib.name || lib.name->empty()) return false;
    if (!Str(c.U32(), lib.doc)) return false;
    lib.helpContext = c.U32();
    if (!Str(c.U32(), lib.helpFile)) return false;
    return c.ok();
  }

  static bool ScalarType(VARTYPE vt) {
    switch (vt) {
      case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: case VT_DISPATCH:
      case VT_ERROR: case VT_BOOL: case VT_VARIANT: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1: case VT_UI1:
      case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT: case VT_VOID: case VT_HRESULT:
      case VT_LPSTR: case VT_LPWSTR:
        return true;
      default:
        return false;
    }
  }

  bool TypeDescs(Library& lib) {
    const std::uint32_t count = sections_[tlb::kTypeDescs].count;
    lib.typeDescs = std::make_unique<TYPEDESC[]>(count);
    lib.typeDescCount = count;
    referencedTypes_.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
      Cursor c = Record(tlb::kTypeDescs, i);
      TYPEDESC& d = lib.typeDescs[i];
      d.vt = c.U16();
      if (c.U16() != 0) return false;
      const std::uint32_t ref = c.U32();
      if (d.vt == VT_PTR || d.vt == VT_SAFEARRAY) {
        if (ref >= i) return false;  // elements come first, so no chain can loop
        d.lptdesc = &lib.typeDescs[ref];
      } else if (d.vt == VT_USERDEFINED) {
        d.hreftype = ref;  // checked against the references once they are read
        referencedTypes_.push_back(ref);
      } else {
        if (!ScalarType(d.vt) || ref != 0) return false;
      }
      if (!c.ok()) return false;
    }
    return true;
  }

  bool Imports(Library& lib) {
    for (std::uint32_t i = 0; i < sections_[tlb::kImports].count; ++i) {
      Cursor c = Record(tlb::kImports, i);
      Import imp;
      imp.libid = c.Guid();
      imp.major = c.U16();
      imp.minor = c.U16();
      if (!Str(c.U32(), imp.file) || !c.ok()) return false;
      lib.imports.push_back(std::move(imp));
    }
    return true;
  }

  bool References(Library& lib) {
    const std::uint32_t typeCount = sections_[tlb::kTypeInfos].count;
    for (std::uint32_t i = 0; i < sections_[tlb::kReferences].count; ++i) {
      Cursor c = Record(tlb::kReferences, i);
      Reference r;
      r.guid = c.Guid();
      const std::uint32_t kind = c.U32();
      r.index = c.U32();
      if (kind == tlb::kReferenceInternal) {
        if (r.index >= typeCount) return false;
      } else if (kind == tlb::kReferenceImported) {
        r.imported = true;
        if (r.index >= lib.imports.size()) return false;
      } else {
        return false;
      }
      if (!Str(c.U32(), r.name) || !c.ok()) return false;
      lib.references.push_back(std::move(r));
    }
    for (std::uint32_t ref : referencedTypes_)
      if (ref >= lib.references.size()) return false;
    return true;
  }

  bool TypeIndex(const Library& lib, std::uint32_t index) const { return index < lib.typeDescCount; }

  bool FunctionRecord(Library& lib, std::uint32_t index, WORD cbSizeVft, Function& f) {
    Cursor c = Record(tlb::kFunctions, index);
    f.memid = c.I32();
    const std::uint32_t invkind = c.U32();
    if (invkind != INVOKE_FUNC && invkind != INVOKE_PROPERTYGET && invkind != INVOKE_PROPERTYPUT &&
        invkind != INVOKE_PROPERTYPUTREF)
      return false;
    f.invkind = static_cast<INVOKEKIND>(invkind);
    const std::uint32_t funckind = c.U32();
    if (funckind > FUNC_DISPATCH) return false;
    f.funckind = static_cast<FUNCKIND>(funckind);
    const std::uint32_t callconv = c.U32();
    if (callconv >= CC_MAX) return false;
    f.callconv = static_cast<CALLCONV>(callconv);
    f.oVft = static_cast<SHORT>(c.U16());
    f.flags = c.U16();
    const std::uint16_t cParams = c.U16();
    f.cParamsOpt = static_cast<SHORT>(c.U16());
    f.returnType = c.U32();
    if (!TypeIndex(lib, f.returnType)) return false;
    if (!RequiredStr(c.U32(), f.name) || !Str(c.U32(), f.doc)) return false;
    f.helpContext = c.U32();
    const std::uint32_t firstParam = c.U32();
    if (!c.ok()) return false;
    // A slot lies inside the table, on a pointer boundary.
    if (f.oVft < 0 || f.oVft % static_cast<SHORT>(sizeof(void*)) != 0 || f.oVft >= cbSizeVft) return false;
    if (cParams > 0x7FFF || f.cParamsOpt < 0 || f.cParamsOpt > static_cast<SHORT>(cParams)) return false;
    if (std::uint64_t{firstParam} + cParams > sections_[tlb::kParams].count) return false;
    for (std::uint32_t p = 0; p < cParams; ++p) {
      Cursor pc = Record(tlb::kParams, firstParam + p);
      Param param;
      param.typeDesc = pc.U32();
      param.flags = pc.U16();
      if (pc.U16() != 0) return false;
      if (!TypeIndex(lib, param.typeDesc) || !Str(pc.U32(), param.name) || !pc.ok()) return false;
      if (param.flags & ~(PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FLCID | PARAMFLAG_FRETVAL | PARAMFLAG_FOPT))
        return false;  // defaults and custom data are not part of this format
      // A retval is an [out] pointer and comes last.
      if ((param.flags & PARAMFLAG_FRETVAL) &&
          (p + 1 != cParams || !(param.flags & PARAMFLAG_FOUT) || lib.typeDescs[param.typeDesc].vt != VT_PTR))
        return false;
      if ((param.flags & PARAMFLAG_FOUT) && lib.typeDescs[param.typeDesc].vt != VT_PTR) return false;
      f.params.push_back(std::move(param));
    }
    return true;
  }

  bool TypeInfos(Library& lib) {
    for (std::uint32_t i = 0; i < sections_[tlb::kTypeInfos].count; ++i) {
      Cursor c = Record(tlb::kTypeInfos, i);
      TypeInfoData t;
      t.guid = c.Guid();
      const std::uint32_t kind = c.U32();
      if (kind != TKIND_INTERFACE && kind != TKIND_COCLASS && kind != TKIND_DISPATCH) return false;
      t.kind = static_cast<TYPEKIND>(kind);
      const std::uint32_t flags = c.U32();
      if (flags > 0x7FFF) return false;
      t.flags = static_cast<WORD>(flags);
      if (!RequiredStr(c.U32(), t.name) || !Str(c.U32(), t.doc)) return false;
      t.helpContext = c.U32();
      t.major = c.U16();
      t.minor = c.U16();
      const std::uint16_t cFuncs = c.U16();
      if (c.U16() != 0) return false;  // variables are not part of this format
      const std::uint16_t cImpl = c.U16();
      t.cbSizeVft = c.U16();
      t.cbSizeInstance = c.U32();
      t.cbAlignment = c.U16();
      if (c.U16() != 0) return false;
      const std::uint32_t firstFunction = c.U32();
      const std::uint32_t firstImpl = c.U32();
      if (!c.ok()) return false;
      if (t.cbSizeVft % sizeof(void*) != 0) return false;
      if (t.kind == TKIND_COCLASS && (cFuncs != 0 || t.cbSizeVft != 0)) return false;
      if (std::uint64_t{firstFunction} + cFuncs > sections_[tlb::kFunctions].count) return false;
      if (std::uint64_t{firstImpl} + cImpl > sections_[tlb::kImplTypes].count) return false;
      if (t.kind != TKIND_COCLASS && cImpl > 1) return false;  // one base interface at most
      for (std::uint32_t k = 0; k < cFuncs; ++k) {
        Function f;
        if (!FunctionRecord(lib, firstFunction + k, t.cbSizeVft, f)) return false;
        t.functions.push_back(std::move(f));
      }
      for (std::uint32_t k = 0; k < cImpl; ++k) {
        Cursor ic = Record(tlb::kImplTypes, firstImpl + k);
        ImplType impl;
        impl.reference = ic.U32();
        impl.flags = ic.I32();
        if (!ic.ok() || impl.reference >= lib.references.size()) return false;
        if (impl.flags & ~(IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FRESTRICTED |
                           IMPLTYPEFLAG_FDEFAULTVTABLE))
          return false;
        t.implTypes.push_back(impl);
      }
      lib.types.push_back(std::move(t));
    }
    return true;
  }

  // Relations between records, once all are read; then the Windows descriptions are built.
  bool Crosscheck(Library& lib) {
    for (const Reference& r : lib.references) {
      if (!r.imported && !(lib.types[r.index].guid == r.guid)) return false;
    }
    for (TypeInfoData& t : lib.types) {
      for (const ImplType& impl : t.implTypes) {
        const Reference& r = lib.references[impl.reference];
        if (t.kind == TKIND_COCLASS && (r.imported || lib.types[r.index].kind == TKIND_COCLASS)) return false;
        if (t.kind != TKIND_COCLASS && !r.imported) {
          const TypeInfoData& base = lib.types[r.index];
          if (&base == &t || base.kind == TKIND_COCLASS || base.cbSizeVft > t.cbSizeVft) return false;
        }
      }
      BuildDescriptions(lib, t);
    }
    return true;
  }

  static void BuildDescriptions(Library& lib, TypeInfoData& t) {
    TYPEATTR& a = t.attr;
    a.guid = t.guid;
    a.lcid = lib.textLcid;
    a.memidConstructor = MEMBERID_NIL;
    a.memidDestructor = MEMBERID_NIL;
    a.cbSizeInstance = t.cbSizeInstance;
    a.typekind = t.kind;
    a.cFuncs = static_cast<WORD>(t.functions.size());
    a.cImplTypes = static_cast<WORD>(t.implTypes.size());
    a.cbSizeVft = t.cbSizeVft;
    a.cbAlignment = t.cbAlignment;
    a.wTypeFlags = t.flags;
    a.wMajorVerNum = t.major;
    a.wMinorVerNum = t.minor;
    a.tdescAlias.vt = VT_EMPTY;
    for (Function& f : t.functions) {
      f.elemdescs.resize(f.params.size());
      for (std::size_t p = 0; p < f.params.size(); ++p) {
        f.elemdescs[p].tdesc = lib.typeDescs[f.params[p].typeDesc];
        f.elemdescs[p].paramdesc.wParamFlags = f.params[p].flags;
      }
      FUNCDESC& d = f.desc;
      d.memid = f.memid;
      d.lprgelemdescParam = f.elemdescs.empty() ? nullptr : f.elemdescs.data();
      d.funckind = f.funckind;
      d.invkind = f.invkind;
      d.callconv = f.callconv;
      d.cParams = static_cast<SHORT>(f.params.size());
      d.cParamsOpt = f.cParamsOpt;
      d.oVft = f.oVft;
      d.elemdescFunc.tdesc = lib.typeDescs[f.returnType];
      d.wFuncFlags = f.flags;
    }
  }

  std::span<const std::uint8_t> bytes_;
  SectionView sections_[tlb::kSectionCount];
  std::vector<std::uint32_t> referencedTypes_;
};

}  // namespace

HRESULT ParseTypeLibrary(std::span<const std::uint8_t> bytes, std::unique_ptr<Library>& out) {
  out.reset();
  return quillbox::HresultBoundary([&] { return Reader(bytes).Read(out); });
}

}  // namespace qb::platform::typelib
