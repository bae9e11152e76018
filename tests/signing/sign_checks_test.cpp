// Sign's paths that end before a certificate is needed: protected mode, the input checks, the
// library start, parsing and the template.
#include "signing/sign.h"
#include "signing/sign_fixture.h"

namespace quillbox {
namespace {

class SignChecks : public test::SignFixture {
 protected:
  // Certificate properties that let the input checks pass for option 0.
  void SetIssuerAndSerial() {
    object_.put_CertIssuerName(UniqueBstr::Copy(u"CN=Nobody").get());
    object_.put_CertSerial(UniqueBstr::Copy(u"01").get());
  }
};

TEST_F(SignChecks, XmlDocNeverSet) {
  SetIssuerAndSerial();
  EXPECT_FALSE(RunSign());
  EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::XmlDocEmpty));
  EXPECT_EQ(ErrorStr(), u"ERR_XMLDOC_EMPTY");
  EXPECT_EQ(ErrorDesc(), std::nullopt);
  EXPECT_EQ(library_.Calls("Init"), 0);
  ExpectSessionEnded();
}

TEST_F(SignChecks, ANullResultPointerIsTolerated) {
  ScopedSignatureLibrary scoped(library_);
  EXPECT_EQ(object_.Sign(nullptr), S_OK);
  EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::XmlDocEmpty));
}

// The road hands its error back and records nothing: the object records it, once.
TEST_F(SignChecks, TheRoadReturnsItsErrorAndLeavesTheReportToTheObject) {
  SetError(Error::OpenCertStore);
  ScopedSignatureLibrary scoped(library_);
  SetXmlDoc(u"<a>");
  SetIssuerAndSerial();
  const SignRequest request = object_.signRequest();
  Result<UniqueBstr> outcome = SignDocument(request);
  EXPECT_EQ(outcome.error(), Error::ParsingXml);
  EXPECT_FALSE(outcome.value());
  SignRequest refused = request;
  refused.protectedMode = true;
  EXPECT_EQ(SignDocument(refused).error(), Error::AccessDenied);
  refused.xmlDoc = nullptr;
  refused.protectedMode = false;
  EXPECT_EQ(SignDocument(refused).error(), Error::XmlDocEmpty);
  EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::OpenCertStore));
  EXPECT_EQ(ErrorStr(), u"ERR_OPEN_CERT_STORE");
}

TEST_F(SignChecks, StartClearsTheEarlierError) {
  SetError(Error::SigningDoc);
  TheErrorState()->ErrorDescTaken = 1;
  SetXmlDoc(u"<a>");
  SetIssuerAndSerial();
  EXPECT_FALSE(RunSign());
  EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::ParsingXml));
}

// Written back, the namespace name or the attribute default would come out unescaped and the
// signed document would not parse.
TEST_F(SignChecks, ADocumentWhoseNamespaceNameCannotBeWrittenBackIsRefused) {
  const std::u16string document = u"<p:form xmlns:p='http://example.org/?a=1&amp;b=2'><p:x>1</p:x></p:form>";
  SetXmlDoc(document);
  SetIssuerAndSerial();
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::ParsingXml, document);
}

TEST_F(SignChecks, ADocumentWhoseAttributeDefaultCannotBeWrittenBackIsRefused) {
  const std::u16string document = u"<!DOCTYPE r [<!ATTLIST r d CDATA \"a&amp;b\">]><r/>";
  SetXmlDoc(document);
  SetIssuerAndSerial();
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::ParsingXml, document);
}

TEST_F(SignChecks, IssuerAndSerialBothNeededForOptionZero) {
  SetXmlDoc(u"<a/>");
  object_.put_CertIssuerName(UniqueBstr::Copy(u"CN=Somebody").get());
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::CertUniqueIdEmpty, u"<a/>");
  EXPECT_EQ(library_.Calls("Init"), 0);

  ClearErrorState();
  object_.put_CertIssuerName(nullptr);
  object_.put_CertSerial(UniqueBstr::Copy(u"0a").get());
  EXPECT_FALSE(RunSign());
  EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::CertUniqueIdEmpty));
}

TEST_F(SignChecks, SubjectNeededForOptionOne) {
  SetXmlDoc(u"<a/>");
  object_.put_CertFindOption(FindBySubject);
  SetIssuerAndSerial();  // not what option 1 looks at
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::CertSubjectEmpty, u"<a/>");
}

TEST_F(SignChecks, EmptyButPresentStringsPassTheChecks) {
  SetXmlDoc(u"");
  object_.put_CertIssuerName(UniqueBstr::Copy(u"").get());
  object_.put_CertSerial(UniqueBstr::Copy(u"").get());
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::ParsingXml, u"");

  ClearErrorState();
  object_.put_CertFindOption(FindBySubject);
  object_.put_CertSubject(UniqueBstr::Copy(u"").get());
  EXPECT_FALSE(RunSign());
  EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::ParsingXml));
}

TEST_F(SignChecks, PickerAndUnknownOptionsNeedNoCertificateProperty) {
  for (SHORT option : {SHORT{2}, SHORT{5}, SHORT{-1}}) {
    ClearErrorState();
    object_.put_CertFindOption(option);
    SetXmlDoc(u"<a");
    EXPECT_FALSE(RunSign());
    EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::ParsingXml)) << option;
  }
}

TEST_F(SignChecks, ProtectedModeRefusesBeforeAnythingElse) {
  setenv("QUILLBOX_DLL_PATH", QUILLBOX_FAKE_DIR "/ieframe", 1);
  setenv("QUILLBOX_TEST_PROTECTED_MODE", "protected", 1);
  SetXmlDoc(u"<a/>");
  SetIssuerAndSerial();
  EXPECT_FALSE(RunSign());
  unsetenv("QUILLBOX_TEST_PROTECTED_MODE");
  ExpectFailure(Error::AccessDenied, u"<a/>");
  EXPECT_EQ(library_.Calls("Init"), 0);

  // Protected mode wins over a missing XmlDoc as well.
  ClearErrorState();
  setenv("QUILLBOX_TEST_PROTECTED_MODE", "denied", 1);
  object_.put_XmlDoc(nullptr);
  EXPECT_FALSE(RunSign());
  unsetenv("QUILLBOX_TEST_PROTECTED_MODE");
  EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::AccessDenied));
}

TEST_F(SignChecks, NotWellFormedDocument) {
  const std::u16string text = u"<a><b></a>";
  SetXmlDoc(text);
  SetIssuerAndSerial();
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::ParsingXml, text);
  EXPECT_EQ(library_.Calls("ErrorsSetCallback"), 1);
}

TEST_F(SignChecks, EntityExpansionAndExternalLoadsAreRefused) {
  std::u16string laughs = u"<!DOCTYPE a [<!ENTITY l0 \"ha\">";
  for (int i = 1; i <= 12; ++i) {
    const std::u16string n = u"l" + std::u16string(1, static_cast<char16_t>(u'a' + i));
    const std::u16string previous = i == 1 ? u"l0" : u"l" + std::u16string(1, static_cast<char16_t>(u'a' + i - 1));
    laughs += u"<!ENTITY " + n + u" \"";
    for (int k = 0; k < 10; ++k) laughs += u"&" + previous + u";";
    laughs += u"\">";
  }
  laughs += u"]><a>&lm;</a>";
  for (const std::u16string& text :
       {laughs, std::u16string(u"<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/hostname\">]><a>&x;</a>")}) {
    ClearErrorState();
    SetXmlDoc(text);
    SetIssuerAndSerial();
    EXPECT_FALSE(RunSign());
    EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::ParsingXml));
    EXPECT_EQ(XmlDoc(), text);
  }
}

struct RoadFailure {
  const char* call;
  int occurrence;
  Error error;
};

class SignRoadFailure : public SignChecks, public ::testing::WithParamInterface<RoadFailure> {};

TEST_P(SignRoadFailure, LeavesXmlDocAndEndsTheSession) {
  const RoadFailure failure = GetParam();
  const std::u16string text = u"<?xml version=\"1.0\"?><doc>text</doc>";
  SetXmlDoc(text);
  SetIssuerAndSerial();
  object_.put_Advanced(VARIANT_TRUE);
  library_.FailAt(failure.call, failure.occurrence);
  EXPECT_FALSE(RunSign());
  ExpectFailure(failure.error, text);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, SignRoadFailure,
    ::testing::Values(RoadFailure{"Init", 1, Error::InitXmlSec}, RoadFailure{"CheckVersionExt", 1, Error::XmlSecVersion},
                      RoadFailure{"CryptoAppInit", 1, Error::InitCrypto},
                      RoadFailure{"CryptoInit", 1, Error::InitXmlSecCrypto},
                      RoadFailure{"TmplSignatureCreate", 1, Error::CreatingSignNode},
                      RoadFailure{"AddChild", 1, Error::AddingSignNode},
                      RoadFailure{"TmplSignatureAddReference", 1, Error::AddingEnvelopedRef},
                      RoadFailure{"TmplReferenceAddTransform", 1, Error::AddingEnvelopedTransform},
                      RoadFailure{"TmplSignatureAddObject", 1, Error::AddingObjectNode},
                      RoadFailure{"TmplObjectAddSignProperties", 1, Error::AddingPropertiesNode},
                      RoadFailure{"NewChild", 1, Error::AddingPropertyNode},
                      RoadFailure{"NewChild", 2, Error::AddingKvPropNode},
                      RoadFailure{"NewNs", 1, Error::AddingKvNamespace},
                      RoadFailure{"NewChild", 3, Error::AddingKvCustomNode},
                      RoadFailure{"NewChild", 4, Error::AddingKvCustomNode},
                      RoadFailure{"TmplSignatureAddReference", 2, Error::AddingEnvelopingRef},
                      RoadFailure{"TmplSignatureEnsureKeyInfo", 1, Error::AddingKeyInfoNode},
                      RoadFailure{"TmplKeyInfoAddX509Data", 1, Error::AddingX509DataNode},
                      RoadFailure{"TmplX509DataAddCertificate", 1, Error::AddingX509CertificateNode},
                      RoadFailure{"TmplX509DataAddSubjectName", 1, Error::AddingX509SubjectNode},
                      RoadFailure{"TmplX509DataAddIssuerSerial", 1, Error::AddingX509IssuerNode}),
    [](const auto& info) { return std::string(info.param.call) + std::to_string(info.param.occurrence); });

}  // namespace
}  // namespace quillbox
