#include "component/error_report.h"
#include "component/signature.h"
#include "support/bstr_helpers.h"
#include "support/module_lock_audit.h"

#include <gtest/gtest.h>

#include <string>

namespace quillbox {
namespace {

using test::Take;

using Getter = HRESULT (Signature::*)(BSTR*);
using Setter = HRESULT (Signature::*)(BSTR);

struct StringProperty {
  const char* name;
  Getter get;
  Setter put;
};

const StringProperty kStringProperties[] = {
    {"XmlDoc", &Signature::get_XmlDoc, &Signature::put_XmlDoc},
    {"CertSubject", &Signature::get_CertSubject, &Signature::put_CertSubject},
    {"UserName", &Signature::get_UserName, &Signature::put_UserName},
    {"LocalTimeStamp", &Signature::get_LocalTimeStamp, &Signature::put_LocalTimeStamp},
    {"CertIssuerName", &Signature::get_CertIssuerName, &Signature::put_CertIssuerName},
    {"CertSerial", &Signature::get_CertSerial, &Signature::put_CertSerial},
};

std::optional<std::u16string> Read(Signature& object, Getter get) {
  BSTR value = nullptr;
  EXPECT_EQ((object.*get)(&value), S_OK);
  return Take(value);
}

class SignatureProperties : public test::ModuleLockAudit {
 protected:
  void TearDown() override {
    ClearErrorState();
    held.Release();
    ModuleLockAudit::TearDown();
  }
  test::HeldSignature held;
  Signature& object = *held;
};

TEST_F(SignatureProperties, NewObjectDefaults) {
  for (const auto& p : kStringProperties) EXPECT_EQ(Read(object, p.get), u"") << p.name;
  VARIANT_BOOL advanced = 1;
  SHORT option = 1;
  UINT handle = 1;
  object.get_Advanced(&advanced);
  object.get_CertFindOption(&option);
  object.get_Handle(&handle);
  EXPECT_EQ(advanced, 0);
  EXPECT_EQ(option, 0);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(Read(object, &Signature::get_Version), u"1.0.1.0");
}

TEST_F(SignatureProperties, NullAndEmptyDifferInsideTheObject) {
  const auto empty = UniqueBstr::Copy(u"");
  object.put_XmlDoc(empty.get());
  ASSERT_NE(object.xmlDoc(), nullptr);
  EXPECT_EQ(SysStringLen(object.xmlDoc()), 0u);
  object.put_XmlDoc(nullptr);
  EXPECT_EQ(object.xmlDoc(), nullptr);
  EXPECT_EQ(Read(object, &Signature::get_XmlDoc), u"");  // the getter hides the difference
}

TEST_F(SignatureProperties, SettersCopyUpToTheFirstZero) {
  for (const auto& p : kStringProperties) {
    const auto withNul = UniqueBstr::Copy(std::u16string(u"ab\0cd", 5));
    EXPECT_EQ((object.*p.put)(withNul.get()), S_OK);
    EXPECT_EQ(Read(object, p.get), p.name == std::string("CertSerial") ? u"AB" : u"ab") << p.name;
  }
}

TEST_F(SignatureProperties, SetterKeepsItsOwnCopy) {
  std::u16string text = u"<a/>";
  {
    const auto value = UniqueBstr::Copy(text);
    object.put_XmlDoc(value.get());
  }
  EXPECT_EQ(Read(object, &Signature::get_XmlDoc), text);
  EXPECT_EQ(Read(object, &Signature::get_XmlDoc), text);  // every read is a fresh copy
}

TEST_F(SignatureProperties, CertSerialIsUpperCased) {
  object.put_CertSerial(UniqueBstr::Copy(u"00ab cd").get());
  EXPECT_EQ(Read(object, &Signature::get_CertSerial), u"00AB CD");
  object.put_CertSerial(UniqueBstr::Copy(u"0a1bff").get());
  EXPECT_EQ(Read(object, &Signature::get_CertSerial), u"0A1BFF");
  object.put_CertSerial(nullptr);
  EXPECT_EQ(object.certSerial(), nullptr);
  EXPECT_EQ(Read(object, &Signature::get_CertSerial), u"");
  object.put_CertSerial(UniqueBstr::Copy(u"").get());
  ASSERT_NE(object.certSerial(), nullptr);
  EXPECT_EQ(SysStringLen(object.certSerial()), 0u);
}

TEST_F(SignatureProperties, NumericPropertiesAreStoredRaw) {
  object.put_Advanced(1);
  object.put_CertFindOption(7);
  object.put_Handle(4294967295u);
  VARIANT_BOOL advanced = 0;
  SHORT option = 0;
  UINT handle = 0;
  object.get_Advanced(&advanced);
  object.get_CertFindOption(&option);
  object.get_Handle(&handle);
  EXPECT_EQ(advanced, 1);
  EXPECT_EQ(option, 7);
  EXPECT_EQ(handle, 4294967295u);
  object.put_CertFindOption(-32768);
  object.get_CertFindOption(&option);
  EXPECT_EQ(option, -32768);
}

TEST_F(SignatureProperties, AccessorsNeverTouchTheErrorReport) {
  SetError(Error::SigningDoc);
  object.put_XmlDoc(UniqueBstr::Copy(u"x").get());
  (void)Read(object, &Signature::get_XmlDoc);
  object.put_CertSerial(UniqueBstr::Copy(u"ab").get());
  EXPECT_EQ(TheErrorState()->ErrorNo, 33);
  ASSERT_NE(TheErrorState()->ErrorStr, nullptr);
}

TEST_F(SignatureProperties, FinalizeClearsStringsOnly) {
  for (const auto& p : kStringProperties) (object.*p.put)(UniqueBstr::Copy(u"v").get());
  object.put_Advanced(VARIANT_TRUE);
  object.put_CertFindOption(2);
  object.put_Handle(99);
  EXPECT_EQ(object.Finalize(), S_OK);
  for (const auto& p : kStringProperties) EXPECT_EQ(Read(object, p.get), u"") << p.name;
  EXPECT_EQ(object.xmlDoc(), nullptr);
  VARIANT_BOOL advanced = 0;
  SHORT option = 0;
  UINT handle = 0;
  object.get_Advanced(&advanced);
  object.get_CertFindOption(&option);
  object.get_Handle(&handle);
  EXPECT_EQ(advanced, VARIANT_TRUE);
  EXPECT_EQ(option, 2);
  EXPECT_EQ(handle, 99u);
}

TEST_F(SignatureProperties, VersionIsTheSameForEveryObject) {
  Signature other;
  EXPECT_EQ(Read(object, &Signature::get_Version), Read(other, &Signature::get_Version));
}

}  // namespace
}  // namespace quillbox
