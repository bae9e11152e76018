// The compiled quillbox.tlb carries every declared fact of the script interface: library
// attributes, the coclass, the dual interface, and each function's identity, slot, types,
// parameter names and help string.
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/oleaut32/typelib_helpers.h"

namespace {

using quillbox::test::ComPtr;
using quillbox::test::Text;

const GUID kLibId = {0x55C3208D, 0x3C4C, 0x4F72, {0xB6, 0xBD, 0xF0, 0x13, 0xDB, 0x1D, 0x17, 0xF1}};
const GUID kClsid = {0x2A426405, 0xE493, 0x4525, {0x83, 0x5C, 0xA7, 0xB2, 0xDE, 0xFE, 0x8C, 0xC8}};
const GUID kIid = {0x7C36739C, 0xD779, 0x431A, {0x9F, 0xCD, 0x3E, 0x21, 0xDC, 0xE0, 0xCD, 0xB5}};

struct Expected {
  int slot;
  const char16_t* name;
  INVOKEKIND kind;
  MEMBERID id;
  VARTYPE type;  // the value's type: retval pointee for getters and methods, argument for setters
  const char16_t* paramName;  // null when the parameter has no name; "" when there is none at all
};

const Expected kMembers[] = {
    {7, u"XmlDoc", INVOKE_PROPERTYGET, 1, VT_BSTR, u"pVal"},
    {8, u"XmlDoc", INVOKE_PROPERTYPUT, 1, VT_BSTR, nullptr},
    {9, u"Sign", INVOKE_FUNC, 2, VT_BOOL, u"pvbResult"},
    {10, u"Finalize", INVOKE_FUNC, 3, VT_EMPTY, u""},
    {11, u"CertSubject", INVOKE_PROPERTYGET, 4, VT_BSTR, u"pVal"},
    {12, u"CertSubject", INVOKE_PROPERTYPUT, 4, VT_BSTR, nullptr},
    {13, u"Advanced", INVOKE_PROPERTYGET, 5, VT_BOOL, u"pVal"},
    {14, u"Advanced", INVOKE_PROPERTYPUT, 5, VT_BOOL, nullptr},
    {15, u"ErrorNo", INVOKE_PROPERTYGET, 6, VT_I4, u"pVal"},
    {16, u"ErrorStr", INVOKE_PROPERTYGET, 7, VT_BSTR, u"pVal"},
    {17, u"ErrorDesc", INVOKE_PROPERTYGET, 8, VT_BSTR, u"pVal"},
    {18, u"UserName", INVOKE_PROPERTYGET, 9, VT_BSTR, u"pVal"},
    {19, u"UserName", INVOKE_PROPERTYPUT, 9, VT_BSTR, nullptr},
    {20, u"LocalTimeStamp", INVOKE_PROPERTYGET, 10, VT_BSTR, u"pVal"},
    {21, u"LocalTimeStamp", INVOKE_PROPERTYPUT, 10, VT_BSTR, nullptr},
    {22, u"CertIssuerName", INVOKE_PROPERTYGET, 11, VT_BSTR, u"pVal"},
    {23, u"CertIssuerName", INVOKE_PROPERTYPUT, 11, VT_BSTR, nullptr},
    {24, u"CertSerial", INVOKE_PROPERTYGET, 12, VT_BSTR, u"pVal"},
    {25, u"CertSerial", INVOKE_PROPERTYPUT, 12, VT_BSTR, nullptr},
    {26, u"CertFindOption", INVOKE_PROPERTYGET, 13, VT_I2, u"pVal"},
    {27, u"CertFindOption", INVOKE_PROPERTYPUT, 13, VT_I2, nullptr},
    {28, u"Version", INVOKE_PROPERTYGET, 14, VT_BSTR, u"pVal"},
    {29, u"Transform", INVOKE_FUNC, 15, VT_BSTR, u"tml"},
    {30, u"Handle", INVOKE_PROPERTYGET, 17, VT_UINT, u"pVal"},
    {31, u"Handle", INVOKE_PROPERTYPUT, 17, VT_UINT, nullptr},
    {32, u"ShowCertsDlg", INVOKE_FUNC, 16, VT_BOOL, u"pvbResult"},
};

class QuillboxTypeLib : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(quillbox::test::LoadTypeLibFromPath(QUILLBOX_TLB, lib_.out()), S_OK);
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(kIid, itf_.out()), S_OK);
  }
  ComPtr<ITypeLib> lib_;
  ComPtr<ITypeInfo> itf_;
};

TEST_F(QuillboxTypeLib, LibraryAttributes) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib_->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == kLibId);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->syskind, SYS_WIN32);
  EXPECT_EQ(attr->lcid, 0u);  // registers under the neutral locale
  EXPECT_EQ(attr->wLibFlags, 0);
  lib_->ReleaseTLibAttr(attr);

  BSTR name = nullptr, doc = nullptr, file = nullptr;
  DWORD context = 77;
  ASSERT_EQ(lib_->GetDocumentation(-1, &name, &doc, &context, &file), S_OK);
  EXPECT_EQ(Text(name), u"QUILLBOXLib");
  EXPECT_EQ(Text(doc), u"Quillbox 1.0 Type Library");
  EXPECT_EQ(context, 0u);
  EXPECT_EQ(file, nullptr);
  SysFreeString(name);
  SysFreeString(doc);
}

TEST_F(QuillboxTypeLib, TwoTypesAndTheCoclass) {
  ASSERT_EQ(lib_->GetTypeInfoCount(), 2u);
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(lib_->GetTypeInfoOfGuid(kClsid, coclass.out()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE);
  EXPECT_EQ(attr->cImplTypes, 1);
  EXPECT_EQ(attr->cFuncs, 0);
  coclass->ReleaseTypeAttr(attr);

  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
  HREFTYPE ref = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
  ComPtr<ITypeInfo> implemented;
  ASSERT_EQ(coclass->GetRefTypeInfo(ref, implemented.out()), S_OK);
  ASSERT_EQ(implemented->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == kIid);
  implemented->ReleaseTypeAttr(attr);
  EXPECT_EQ(coclass->GetRefTypeOfImplType(1, &ref), TYPE_E_ELEMENTNOTFOUND);

  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), u"Signature");
  EXPECT_EQ(Text(doc), u"Signature Class");
  SysFreeString(name);
  SysFreeString(doc);
}

TEST_F(QuillboxTypeLib, InterfaceAttributes) {
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(itf_->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(attr->cFuncs, 26);
  EXPECT_EQ(attr->cVars, 0);
  EXPECT_EQ(attr->cImplTypes, 1);
  EXPECT_EQ(attr->cbSizeVft, 33 * 8);
  EXPECT_EQ(attr->lcid, 0x0409u);  // the locale of its names and help strings
  itf_->ReleaseTypeAttr(attr);

  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(itf_->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), u"ISignature");
  EXPECT_EQ(Text(doc), u"ISignature Interface");
  SysFreeString(name);
  SysFreeString(doc);

  // Derived from IDispatch, which lives in stdole2.tlb.
  HREFTYPE ref = 0;
  ASSERT_EQ(itf_->GetRefTypeOfImplType(0, &ref), S_OK);
  INT flags = -1;
  ASSERT_EQ(itf_->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags, 0);
  ComPtr<ITypeInfo> base;
  EXPECT_EQ(itf_->GetRefTypeInfo(ref, base.out()), TYPE_E_CANTLOADLIBRARY);
}

TEST_F(QuillboxTypeLib, EveryFunctionInSlotOrder) {
  for (UINT index = 0; index < 26; ++index) {
    const Expected& e = kMembers[index];
    SCOPED_TRACE(std::string(e.name, e.name + std::char_traits<char16_t>::length(e.name)));
    FUNCDESC* f = nullptr;
    ASSERT_EQ(itf_->GetFuncDesc(index, &f), S_OK);
    EXPECT_EQ(f->memid, e.id);
    EXPECT_EQ(f->invkind, e.kind);
    EXPECT_EQ(f->oVft, e.slot * 8);
    EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(f->callconv, CC_STDCALL);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
    EXPECT_EQ(f->wFuncFlags, 0);
    EXPECT_EQ(f->cParamsOpt, 0);
    EXPECT_EQ(f->cScodes, 0);

    std::vector<const ELEMDESC*> params;
    for (SHORT p = 0; p < f->cParams; ++p) params.push_back(&f->lprgelemdescParam[p]);
    if (e.type == VT_EMPTY) {
      EXPECT_EQ(f->cParams, 0);
    } else if (e.kind == INVOKE_PROPERTYPUT) {
      ASSERT_EQ(f->cParams, 1);
      EXPECT_EQ(params[0]->tdesc.vt, e.type);
      EXPECT_EQ(params[0]->paramdesc.wParamFlags, PARAMFLAG_FIN);
    } else {
      ASSERT_GE(f->cParams, 1);
      const ELEMDESC* retval = params.back();
      EXPECT_EQ(retval->tdesc.vt, VT_PTR);
      EXPECT_EQ(retval->tdesc.lptdesc->vt, e.type);
      EXPECT_EQ(retval->paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
      if (e.id == 15) {  // Transform([in] BSTR xsl, [out, retval] BSTR* tml)
        ASSERT_EQ(f->cParams, 2);
        EXPECT_EQ(params[0]->tdesc.vt, VT_BSTR);
        EXPECT_EQ(params[0]->paramdesc.wParamFlags, PARAMFLAG_FIN);
      } else {
        EXPECT_EQ(f->cParams, 1);
      }
    }

    BSTR names[4] = {};
    UINT count = 0;
    ASSERT_EQ(itf_->GetNames(e.id, names, 4, &count), S_OK);
    // GetNames reports the first function with the identifier: the getter of a property.
    const Expected& first = (e.kind == INVOKE_PROPERTYPUT) ? kMembers[index - 1] : e;
    EXPECT_EQ(Text(names[0]), first.name);
    std::vector<std::u16string> expectedNames;
    if (e.id == 15) expectedNames = {u"xsl", u"tml"};
    else if (first.paramName != nullptr && *first.paramName != 0) expectedNames = {first.paramName};
    ASSERT_EQ(count, 1 + expectedNames.size());
    for (std::size_t k = 0; k < expectedNames.size(); ++k) EXPECT_EQ(Text(names[k + 1]), expectedNames[k]);
    for (UINT k = 0; k < count; ++k) SysFreeString(names[k]);

    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(itf_->GetDocumentation(e.id, &name, &doc, nullptr, nullptr), S_OK);
    const bool property = e.kind != INVOKE_FUNC;
    EXPECT_EQ(Text(doc), std::u16string(property ? u"property " : u"method ") + e.name);
    SysFreeString(name);
    SysFreeString(doc);
    itf_->ReleaseFuncDesc(f);
  }
  FUNCDESC* none = nullptr;
  EXPECT_EQ(itf_->GetFuncDesc(26, &none), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(QuillboxTypeLib, SettersKeepNoParameterName) {
  UINT index = 0;
  ComPtr<ITypeInfo2> info2;
  ASSERT_EQ(itf_->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(info2.out())), S_OK);
  ASSERT_EQ(info2->GetFuncIndexOfMemId(17, INVOKE_PROPERTYPUT, &index), S_OK);
  EXPECT_EQ(index, 24u);
  ASSERT_EQ(info2->GetFuncIndexOfMemId(16, INVOKE_FUNC, &index), S_OK);
  EXPECT_EQ(index, 25u);
  EXPECT_EQ(info2->GetFuncIndexOfMemId(14, INVOKE_PROPERTYPUT, &index), TYPE_E_ELEMENTNOTFOUND);  // read-only
  TYPEKIND kind;
  ASSERT_EQ(info2->GetTypeKind(&kind), S_OK);
  EXPECT_EQ(kind, TKIND_INTERFACE);
}

TEST_F(QuillboxTypeLib, DispatchIdentifiersByName) {
  const std::pair<const char16_t*, MEMBERID> names[] = {
      {u"Sign", 2}, {u"Handle", 17}, {u"ShowCertsDlg", 16}, {u"Transform", 15}, {u"sign", 2}, {u"XMLDOC", 1}};
  for (const auto& [name, id] : names) {
    LPOLESTR n = const_cast<LPOLESTR>(name);
    MEMBERID got = 0;
    ASSERT_EQ(itf_->GetIDsOfNames(&n, 1, &got), S_OK);
    EXPECT_EQ(got, id);
  }
  // A parameter name alone is no member.
  LPOLESTR xsl = const_cast<LPOLESTR>(u"xsl");
  MEMBERID got = 0;
  EXPECT_EQ(itf_->GetIDsOfNames(&xsl, 1, &got), DISP_E_UNKNOWNNAME);
  // No member has identifier 0.
  BSTR name = nullptr;
  EXPECT_EQ(itf_->GetDocumentation(0, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(QuillboxTypeLib, LibraryNameLookups) {
  std::u16string buffer = u"isignature";
  BOOL found = FALSE;
  ASSERT_EQ(lib_->IsName(buffer.data(), 0, &found), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(buffer, u"ISignature");  // the stored spelling is handed back
  std::u16string missing = u"NoSuchThing";
  ASSERT_EQ(lib_->IsName(missing.data(), 0, &found), S_OK);
  EXPECT_FALSE(found);

  ITypeInfo* infos[2] = {};
  MEMBERID ids[2] = {};
  USHORT count = 2;
  std::u16string member = u"certserial";
  ASSERT_EQ(lib_->FindName(member.data(), 0, infos, ids, &count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(ids[0], 12);
  infos[0]->Release();

  TYPEKIND kind;
  ASSERT_EQ(lib_->GetTypeInfoType(1, &kind), S_OK);
  EXPECT_EQ(lib_->GetTypeInfoType(2, &kind), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(QuillboxTypeLib, TypeInformationKeepsItsLibraryAlive) {
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(lib_->GetTypeInfo(0, info.out()), S_OK);
  lib_.reset();
  ComPtr<ITypeLib> container;
  UINT index = 9;
  ASSERT_EQ(info->GetContainingTypeLib(container.out(), &index), S_OK);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(container->GetTypeInfoCount(), 2u);
}

TEST(QuillboxTypeLibLoading, MissingFileIsRefused) {
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(quillbox::test::LoadTypeLibFromPath("/nonexistent/quillbox.tlb", lib.out()), TYPE_E_CANTLOADLIBRARY);
  EXPECT_FALSE(lib);
  EXPECT_EQ(LoadTypeLib(nullptr, lib.out()), E_INVALIDARG);
}

}  // namespace
