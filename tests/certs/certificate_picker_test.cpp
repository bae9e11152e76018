// PickCertificate and ShowCertsDlg with stand-in selection dialogs.
#include "cert_test_helpers.h"
#include "certs/cert_handles.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "support/module_lock_audit.h"

#include "support/recorded.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace quillbox::test {
namespace {

class CertificatePicker : public ModuleLockAudit {
 protected:
  void SetUp() override { ClearErrorState(); }
  void TearDown() override {
    ClearErrorState();
    held.Release();
    ModuleLockAudit::TearDown();
  }

  std::u16string Property(HRESULT (Signature::*get)(BSTR*)) {
    BSTR value = nullptr;
    EXPECT_EQ((object.*get)(&value), S_OK);
    return Take(value).value_or(u"<null>");
  }
  VARIANT_BOOL Show() {
    VARIANT_BOOL result = 7;
    EXPECT_EQ(object.ShowCertsDlg(&result), S_OK);
    return result;
  }
  LONG ErrorNo() const { return TheErrorState()->ErrorNo; }

  HeldSignature held;
  Signature& object = *held;
};

TEST_F(CertificatePicker, ChoiceSetsIssuerAndSerial) {
  FakeDialog dialog("choose", "Test Signer");
  EXPECT_EQ(Show(), VARIANT_TRUE);
  EXPECT_EQ(Property(&Signature::get_CertIssuerName), test::FromUtf8(fixture::kSigner.issuerText));
  EXPECT_EQ(Property(&Signature::get_CertSerial), u"013CFF0A");
  EXPECT_EQ(ErrorNo(), 0);
}

TEST_F(CertificatePicker, RequestIsFilledAsTheDialogExpects) {
  FakeDialog dialog("choose", "Test Signer");
  object.put_Handle(0x1234);  // a page window that must not become the owner
  EXPECT_EQ(Show(), VARIANT_TRUE);
  const FakeRequestRecord& seen = dialog.last();
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.request.dwSize, sizeof(CERT_SELECT_STRUCT_A));
  EXPECT_EQ(seen.request.hwndParent, nullptr);
  EXPECT_EQ(seen.request.hInstance, nullptr);
  EXPECT_EQ(seen.request.pTemplateName, nullptr);
  EXPECT_EQ(seen.request.dwFlags, 0u);
  EXPECT_EQ(seen.title, "Izberite certifikat");
  EXPECT_EQ(seen.request.cCertStore, 1u);
  EXPECT_NE(seen.firstStore, nullptr);
  EXPECT_EQ(seen.request.szPurposeOid, nullptr);
  EXPECT_EQ(seen.request.cCertContext, 0u);
  EXPECT_EQ(seen.firstPreset, nullptr);
  EXPECT_EQ(seen.request.lCustData, 0);
  EXPECT_EQ(seen.request.pfnHook, nullptr);
  EXPECT_EQ(seen.request.pfnFilter, nullptr);
  EXPECT_FALSE(seen.helpFileNull);
  EXPECT_EQ(seen.helpFile, "");
  EXPECT_EQ(seen.request.dwHelpId, 0u);
  EXPECT_EQ(seen.request.hprov, 0u);
}

TEST_F(CertificatePicker, ChoiceKeepsAnEarlierErrorAndOtherProperties) {
  SetError(Error::SigningDoc);
  object.put_CertFindOption(FindBySubject);
  object.put_CertSubject(UniqueBstr::Copy(u"kept").get());
  FakeDialog dialog("choose", "Second Signer");
  EXPECT_EQ(Show(), VARIANT_TRUE);
  EXPECT_EQ(ErrorNo(), 33);
  SHORT option = 0;
  object.get_CertFindOption(&option);
  EXPECT_EQ(option, FindBySubject);
  EXPECT_EQ(Property(&Signature::get_CertSubject), u"kept");
  EXPECT_EQ(Property(&Signature::get_CertSerial), u"008F00AB");
}

TEST_F(CertificatePicker, SecondChoiceReplacesTheFirst) {
  FakeDialog dialog("choose", "Test Signer");
  EXPECT_EQ(Show(), VARIANT_TRUE);
  dialog.Choose("Čebelar");
  EXPECT_EQ(Show(), VARIANT_TRUE);
  EXPECT_EQ(Property(&Signature::get_CertIssuerName), test::FromUtf8(fixture::kUnicode.issuerText));
  EXPECT_EQ(Property(&Signature::get_CertSerial), u"05");
}

TEST_F(CertificatePicker, NoChoiceLeavesThePropertiesAndSetsError40) {
  for (const char* mode : {"cancel", "none", "noexport"}) {
    ClearErrorState();
    object.put_CertIssuerName(UniqueBstr::Copy(u"CN=Before").get());
    object.put_CertSerial(UniqueBstr::Copy(u"ab").get());
    FakeDialog dialog(mode);
    EXPECT_EQ(Show(), VARIANT_FALSE) << mode;
    EXPECT_EQ(ErrorNo(), 40) << mode;
    EXPECT_EQ(std::u16string(TheErrorState()->ErrorStr), u"ERR_NO_CERT_SELECTED") << mode;
    EXPECT_EQ(Property(&Signature::get_CertIssuerName), u"CN=Before") << mode;
    EXPECT_EQ(Property(&Signature::get_CertSerial), u"AB") << mode;
  }
}

TEST_F(CertificatePicker, CancelledDialogWasShown) {
  FakeDialog dialog("cancel");
  EXPECT_EQ(Show(), VARIANT_FALSE);
  EXPECT_EQ(dialog.last().calls, 1);
  EXPECT_EQ(dialog.last().title, "Izberite certifikat");
}

TEST_F(CertificatePicker, MissingDialogModuleSetsError40) {
  // Test programs live outside bin/, so with the search path on an empty directory no dialog
  // module is found.
  TempDir nothing;
  setenv("QUILLBOX_DLL_PATH", nothing.path().c_str(), 1);
  object.put_CertSerial(UniqueBstr::Copy(u"01").get());
  EXPECT_EQ(Show(), VARIANT_FALSE);
  EXPECT_EQ(ErrorNo(), 40);
  EXPECT_EQ(Property(&Signature::get_CertSerial), u"01");
  unsetenv("QUILLBOX_DLL_PATH");
}

TEST_F(CertificatePicker, DialogModuleIsUnloadedAfterEveryCall) {
  const std::string path = std::string(QUILLBOX_FAKE_DIR) + "/cryptdlg-choose/cryptdlg.so";
  setenv("QUILLBOX_DLL_PATH", (std::string(QUILLBOX_FAKE_DIR) + "/cryptdlg-choose").c_str(), 1);
  setenv("QUILLBOX_FAKE_CHOICE", "Test Signer", 1);
  ASSERT_FALSE(IsMapped(path));
  EXPECT_EQ(Show(), VARIANT_TRUE);
  EXPECT_FALSE(IsMapped(path));
  EXPECT_EQ(Show(), VARIANT_TRUE);  // and loaded again for the next
  EXPECT_FALSE(IsMapped(path));
  EXPECT_EQ(Property(&Signature::get_CertSerial), u"013CFF0A");
  unsetenv("QUILLBOX_DLL_PATH");
  unsetenv("QUILLBOX_FAKE_CHOICE");
}

TEST_F(CertificatePicker, NoStoreShowsNoDialog) {
  FakeDialog dialog("choose", "Test Signer");
  EXPECT_FALSE(Recorded(PickCertificate(nullptr)));
  EXPECT_EQ(dialog.last().calls, 0);
}

TEST_F(CertificatePicker, PickedCertificateBelongsToTheCaller) {
  FakeDialog dialog("choose", "Test Signer");
  UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
  ASSERT_TRUE(store);
  UniqueCertContext chosen = Recorded(PickCertificate(store.get()));
  ASSERT_TRUE(chosen);
  EXPECT_EQ(EncodedOf(chosen.get()), DerOf(fixture::kSigner));
  EXPECT_EQ(QbCertReferenceCount(chosen.get()), 2);  // the store's and ours
  store.reset();
  EXPECT_EQ(QbCertReferenceCount(chosen.get()), 1);  // outlives the dialog module and the store
}

TEST_F(CertificatePicker, ChosenCertificateIsFoundAgainByIssuerAndSerial) {
  for (const FixtureCertificate* c : {&fixture::kSigner, &fixture::kSecond, &fixture::kUnicode, &fixture::kCa}) {
    {
      FakeDialog dialog("choose", std::string(c->subject).substr(3, std::string(c->subject).find(',') - 3));
      ASSERT_EQ(Show(), VARIANT_TRUE) << c->nickname;
    }
    object.put_CertFindOption(FindByIssuerSerial);
    UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
    UniqueCertContext found = Recorded(FindCertificate(store.get(), object.certificateQuery()));
    ASSERT_TRUE(found) << c->nickname;
    EXPECT_EQ(EncodedOf(found.get()), DerOf(*c)) << c->nickname;
  }
}

}  // namespace
}  // namespace quillbox::test
