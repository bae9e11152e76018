// A program that knows only the programmatic identifier and IDispatch drives every member.
#include "com_fixture.h"
#include "support/registry_helpers.h"

#include <objsafe.h>

namespace quillbox::test {
namespace {

using ComClient = RegisteredModule;

TEST_F(ComClient, NamesResolveToTheirDispatchIdentifiers) {
  IDispatch* object = Create();
  ASSERT_NE(object, nullptr);
  Script script(object);
  const struct {
    const char16_t* name;
    DISPID id;
  } members[] = {{u"XmlDoc", 1},          {u"Sign", 2},       {u"Finalize", 3},       {u"CertSubject", 4},
                 {u"Advanced", 5},        {u"ErrorNo", 6},    {u"ErrorStr", 7},       {u"ErrorDesc", 8},
                 {u"UserName", 9},        {u"LocalTimeStamp", 10}, {u"CertIssuerName", 11}, {u"CertSerial", 12},
                 {u"CertFindOption", 13}, {u"Version", 14},   {u"Transform", 15},     {u"ShowCertsDlg", 16},
                 {u"Handle", 17}};
  for (const auto& m : members) EXPECT_EQ(script.Id(m.name), m.id);
  EXPECT_EQ(script.Id(u"sign"), 2);  // a different case goes through the type information
  EXPECT_EQ(script.Id(u"XMLDOC"), 1);
  object->Release();
}

TEST_F(ComClient, UnknownNamesFailAndEarlierIdentifiersStay) {
  IDispatch* object = Create();
  ASSERT_NE(object, nullptr);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"NoSuchMember")};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
  LPOLESTR pair[] = {const_cast<LPOLESTR>(u"Transform"), const_cast<LPOLESTR>(u"xsl")};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, pair, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 15);
  object->Release();
}

TEST_F(ComClient, EveryPropertyRoundTripsThroughInvoke) {
  IDispatch* object = Create();
  ASSERT_NE(object, nullptr);
  Script script(object);
  for (const char16_t* name : {u"XmlDoc", u"CertSubject", u"UserName", u"LocalTimeStamp", u"CertIssuerName"}) {
    EXPECT_EQ(script.Text(name), u"");
    script.PutText(name, u"v\u010d");
    EXPECT_EQ(script.Text(name), u"v\u010d");
  }
  script.PutText(u"CertSerial", u"0a1bff");
  EXPECT_EQ(script.Text(u"CertSerial"), u"0A1BFF");
  EXPECT_EQ(script.Text(u"Version"), u"1.0.1.0");

  script.Put(u"Advanced", MakeI4(-1));  // a script's number, converted to VT_BOOL
  VARIANT advanced = script.Get(u"Advanced");
  EXPECT_EQ(advanced.vt, VT_BOOL);
  EXPECT_EQ(advanced.boolVal, VARIANT_TRUE);

  script.Put(u"CertFindOption", MakeI4(7));
  VARIANT option = script.Get(u"CertFindOption");
  EXPECT_EQ(option.vt, VT_I2);
  EXPECT_EQ(option.iVal, 7);

  VARIANT handle;
  VariantInit(&handle);
  handle.vt = VT_UINT;
  handle.uintVal = 4294967295u;
  script.Put(u"Handle", handle);
  VARIANT readBack = script.Get(u"Handle");
  EXPECT_EQ(readBack.vt, VT_UINT);
  EXPECT_EQ(readBack.uintVal, 4294967295u);
  object->Release();
}

TEST_F(ComClient, MethodsReportThroughTheErrorProperties) {
  IDispatch* object = Create();
  ASSERT_NE(object, nullptr);
  Script script(object);
  VARIANT signedOk = script.Get(u"Sign");  // XmlDoc never set
  EXPECT_EQ(signedOk.vt, VT_BOOL);
  EXPECT_EQ(signedOk.boolVal, VARIANT_FALSE);
  VARIANT number = script.Get(u"ErrorNo");
  EXPECT_EQ(number.vt, VT_I4);
  EXPECT_EQ(number.lVal, 34);
  EXPECT_EQ(script.Text(u"ErrorStr"), u"ERR_XMLDOC_EMPTY");
  VARIANT description = script.Get(u"ErrorDesc");
  EXPECT_EQ(description.vt, VT_BSTR);
  EXPECT_EQ(description.bstrVal, nullptr);  // no report: null, unlike the object's own strings

  script.PutText(u"XmlDoc", u"<a><b>x</b></a>");
  VARIANT xsl;
  VariantInit(&xsl);
  xsl.vt = VT_BSTR;
  xsl.bstrVal = SysAllocString(
      u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
      u"<xsl:template match='/'><r><xsl:value-of select='a/b'/></r></xsl:template></xsl:stylesheet>");
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(script.Call(u"Transform", DISPATCH_METHOD, &xsl, 1, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_NE(std::u16string(result.bstrVal, SysStringLen(result.bstrVal)).find(u"<r>x</r>"), std::u16string::npos);
  EXPECT_EQ(script.Get(u"ErrorNo").lVal, 0);  // Transform wiped the earlier failure
  VariantClear(&result);
  VariantClear(&xsl);

  EXPECT_EQ(script.Call(u"Finalize", DISPATCH_METHOD, nullptr, 0, nullptr), S_OK);
  EXPECT_EQ(script.Text(u"XmlDoc"), u"");
  object->Release();
}

TEST_F(ComClient, DispatchLayerRejectsBadCalls) {
  IDispatch* object = Create();
  ASSERT_NE(object, nullptr);
  Script script(object);
  VARIANT extra = MakeI4(1);
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(script.Call(u"Sign", DISPATCH_METHOD, &extra, 1, &result), DISP_E_BADPARAMCOUNT);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(object->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
  // Version is read-only.
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"2.0");
  EXPECT_EQ(script.Call(u"Version", DISPATCH_PROPERTYPUT, &text, 1, nullptr), DISP_E_MEMBERNOTFOUND);
  VariantClear(&text);
  object->Release();
}

TEST_F(ComClient, InterfacesShareThePrimaryPointer) {
  IDispatch* object = Create();
  ASSERT_NE(object, nullptr);
  IUnknown* unknown = nullptr;
  IUnknown* signature = nullptr;
  IObjectSafety* safety = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  ASSERT_EQ(object->QueryInterface(kIidSignature, reinterpret_cast<void**>(&signature)), S_OK);
  ASSERT_EQ(object->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)), S_OK);
  EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(object));
  EXPECT_EQ(static_cast<void*>(signature), static_cast<void*>(object));
  EXPECT_NE(static_cast<void*>(safety), static_cast<void*>(object));
  IUnknown* fromSafety = nullptr;
  ASSERT_EQ(safety->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromSafety)), S_OK);
  EXPECT_EQ(static_cast<void*>(fromSafety), static_cast<void*>(object));
  const IID persistStream = {0x00000109, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(persistStream, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  for (IUnknown* p : {unknown, signature, fromSafety}) p->Release();
  safety->Release();
  EXPECT_EQ(object->Release(), 0u);
}

TEST_F(ComClient, TypeInformationIsOneAndIndexIsIgnored) {
  IDispatch* object = Create();
  ASSERT_NE(object, nullptr);
  UINT count = 0;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* first = nullptr;
  ITypeInfo* fifth = nullptr;
  ASSERT_EQ(object->GetTypeInfo(0, 0, &first), S_OK);
  ASSERT_EQ(object->GetTypeInfo(5, 0, &fifth), S_OK);
  EXPECT_EQ(first, fifth);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(first->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, kIidSignature));
  EXPECT_EQ(attributes->cFuncs, 26);
  first->ReleaseTypeAttr(attributes);
  EXPECT_EQ(object->GetTypeInfo(0, 0, nullptr), E_POINTER);
  first->Release();
  fifth->Release();
  object->Release();
}

TEST_F(ComClient, UnregisteredTypeLibraryFailsDispatchUntilRegisteredAgain) {
  IDispatch* object = Create();
  ASSERT_NE(object, nullptr);
  ASSERT_EQ(UnRegisterTypeLib(kLibid, 1, 0, 0, SYS_WIN32), S_OK);
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"Sign")};
  DISPID id = 0;
  const HRESULT missing = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  EXPECT_TRUE(FAILED(missing));
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), missing);
  ASSERT_EQ(Export<HRESULT (*)()>("DllRegisterServer")(), S_OK);
  EXPECT_EQ(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  object->Release();
}

TEST_F(ComClient, UnregisteringMakesCreationFailAndUnusedModuleUnloads) {
  IDispatch* object = Create();
  ASSERT_NE(object, nullptr);
  FreeLibrary(module_);  // only the runtime's load remains
  module_ = nullptr;
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ModuleMapped());  // an object still lives
  object->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ModuleMapped());

  module_ = LoadLibraryA(kModulePath.c_str());
  ASSERT_NE(module_, nullptr);
  EXPECT_EQ(Export<HRESULT (*)()>("DllUnregisterServer")(), S_OK);
  CLSID clsid{};
  EXPECT_TRUE(FAILED(CLSIDFromProgID(u"Quillbox.Signature", &clsid)));
  IDispatch* none = nullptr;
  EXPECT_EQ(CoCreateInstance(kClsidSignature, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&none)),
            REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace quillbox::test
