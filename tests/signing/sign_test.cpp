// Sign end to end against a throwaway NSS store, each signature checked by xmlsec1.
#include "xml/call_budget.h"
#include "xml/xml_text.h"
#include "signing/sign_fixture.h"
#include "signing/verifier.h"
#include "signing/xml_tree_helpers.h"
#include "support/nss_store.h"
#include "support/utf_text.h"

#include <qbcrypt.h>

#include <xmlsec/xmlsec.h>

#include <xmlsec/base64.h>

#include <libxml/parser.h>

#include <cstring>
#include <memory>
#include <regex>
#include <stdexcept>

namespace quillbox {
namespace {

using test::fixture::kSigner;
using test::fixture::kUnicode;

constexpr const char* kEcSubject = "CN=Elliptic Signer,O=Example,C=SI";

// The standard store plus a certificate whose key is not RSA, which the RSA-SHA1 signature
// method cannot use.
class SignStoreEnvironment : public test::StandardStoreEnvironment {
 public:
  void SetUp() override {
    test::StandardStoreEnvironment::SetUp();
    const test::NssDatabase& store = Store();
    test::WriteFile(store.directory() + "/ec-noise.bin", std::string(2048, '\x5a'));
    const test::CommandResult made =
        test::RunCommand({"certutil", "-S", "-d", store.location(), "-n", "elliptic", "-s", kEcSubject, "-x", "-t", ",,",
                          "-k", "ec", "-q", "secp256r1", "-m", "9", "-v", "240", "-z", store.directory() + "/ec-noise.bin"});
    if (made.status != 0) throw std::runtime_error("certutil could not add the EC certificate: " + made.output);
    store.ExportPem(kSigner.nickname, SignerPem());
  }
  static std::string SignerPem() { return Store().directory() + "/signer.pem"; }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SignStoreEnvironment);

struct DocDeleter {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocDeleter>;

class Sign : public test::SignFixture {
 protected:
  void UseSigner() {
    object_.put_CertFindOption(FindBySubject);
    object_.put_CertSubject(UniqueBstr::Copy(u"Test Signer").get());
  }
  // Signs `text` and expects success.
  std::string SignOk(const std::u16string& text) {
    SetXmlDoc(text);
    EXPECT_TRUE(RunSign()) << "error " << ErrorNo() << ": " << test::ToUtf8(ErrorDesc().value_or(u""));
    EXPECT_EQ(ErrorNo(), 0);
    EXPECT_EQ(ErrorStr(), std::nullopt);
    return test::ToUtf8(XmlDoc());
  }
  static void ExpectVerifies(const std::string& signedText, const std::string& encoding = "", int index = 1) {
    const test::Verification verification =
        test::VerifyWithXmlsec1(signedText, SignStoreEnvironment::SignerPem(), encoding, index);
    EXPECT_TRUE(verification.ok) << verification.output << "\n" << signedText;
  }
  // The signed text as a tree again (from its UTF-8 form, whatever it declares).
  static Doc Reparse(const std::string& utf8) {
    return Doc(xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), "signed.xml", "UTF-8", XML_PARSE_NONET));
  }
  static xmlNodePtr NthSignature(xmlDocPtr doc, std::size_t n) {
    std::vector<xmlNodePtr> signatures;
    for (xmlNodePtr child : test::ElementChildren(xmlDocGetRootElement(doc)))
      if (xmlStrEqual(child->name, BAD_CAST "Signature")) signatures.push_back(child);
    return n < signatures.size() ? signatures[n] : nullptr;
  }
};

// A document whose tree needs more than the call's memory is refused as unparsable, with nothing
// half-signed handed back; the next call, with the budget the document needs, signs it.
TEST_F(Sign, ADocumentBeyondTheMemoryBudgetIsRefusedAndSignsWithinIt) {
  UseSigner();
  std::u16string text = u"<r>";
  for (int i = 0; i < 20'000; ++i) text += u"<item n='1'>text</item>";
  text += u"</r>";
  const CallLimits saved = CurrentCallLimits();
  CallLimits tight = saved;
  tight.memoryBytes = 2u << 20;
  tight.memoryPerInputByte = 0;
  SetCallLimits(tight);
  SetXmlDoc(text);
  const bool signedTight = RunSign();
  SetCallLimits(saved);
  EXPECT_FALSE(signedTight);
  ExpectFailure(Error::ParsingXml, text);
  SignOk(text);
}

TEST_F(Sign, SignsWithTheFoundCertificateAndVerifies) {
  UseSigner();
  const std::string signedText = SignOk(u"<doc><item>one</item></doc>");
  EXPECT_TRUE(signedText.starts_with("<?xml version=\"1.0\"")) << signedText;
  ExpectVerifies(signedText);
  // Signing context and key went at the end of the call, and the session ended.
  EXPECT_EQ(library_.Calls("DSigCtxDestroy"), 1);
  EXPECT_EQ(library_.Calls("KeyDestroy"), 1);
  ExpectSessionEnded();

  Doc doc = Reparse(signedText);
  ASSERT_TRUE(doc);
  xmlNodePtr signature = NthSignature(doc.get(), 0);
  ASSERT_NE(signature, nullptr);
  EXPECT_EQ(test::ElementNames(signature), (std::vector<std::string>{"SignedInfo", "SignatureValue", "KeyInfo"}));
  EXPECT_EQ(test::ElementNames(test::ElementChildren(signature)[0]),
            (std::vector<std::string>{"CanonicalizationMethod", "SignatureMethod", "Reference"}));
}

TEST_F(Sign, X509DataCarriesCertificateSubjectAndIssuerSerial) {
  UseSigner();
  const std::string signedText = SignOk(u"<doc/>");
  Doc doc = Reparse(signedText);
  ASSERT_TRUE(doc);
  xmlNodePtr x509Data = test::FindElement(NthSignature(doc.get(), 0), "X509Data");
  ASSERT_NE(x509Data, nullptr);
  EXPECT_EQ(test::ElementNames(x509Data),
            (std::vector<std::string>{"X509Certificate", "X509SubjectName", "X509IssuerSerial"}));

  test::TempDir dir;
  SignStoreEnvironment::Store().ExportDer(kSigner.nickname, dir / "signer.der");
  const std::string der = test::ReadFile(dir / "signer.der");
  UniqueXmlChars base64(xmlSecBase64Encode(reinterpret_cast<const xmlSecByte*>(der.data()), der.size(), 0));
  std::string certificate = test::Content(test::ElementChildren(x509Data)[0]);
  std::erase_if(certificate, [](char c) { return c == '\n' || c == '\r'; });
  EXPECT_EQ(certificate, reinterpret_cast<const char*>(base64.get()));

  EXPECT_EQ(test::Content(test::ElementChildren(x509Data)[1]), "CN=Test Signer, O=Example, C=SI");
  xmlNodePtr issuerSerial = test::ElementChildren(x509Data)[2];
  EXPECT_EQ(test::ElementNames(issuerSerial), (std::vector<std::string>{"X509IssuerName", "X509SerialNumber"}));
  EXPECT_EQ(test::Content(test::ElementChildren(issuerSerial)[0]), kSigner.issuerText);
  EXPECT_EQ(test::Content(test::ElementChildren(issuerSerial)[1]), std::to_string(0x013CFF0A));
}

TEST_F(Sign, AdvancedCarriesSignedPropertiesAndVerifies) {
  UseSigner();
  object_.put_Advanced(VARIANT_TRUE);
  object_.put_UserName(UniqueBstr::Copy(u"Smith & Sons \u010c\u0161 &#x17E;").get());
  object_.put_LocalTimeStamp(UniqueBstr::Copy(u"2024-05-01 10:00 <CET>").get());
  const std::string signedText = SignOk(u"<doc>text</doc>");
  ExpectVerifies(signedText);

  Doc doc = Reparse(signedText);
  ASSERT_TRUE(doc);
  xmlNodePtr signature = NthSignature(doc.get(), 0);
  EXPECT_EQ(test::ElementNames(test::ElementChildren(signature)[0]),
            (std::vector<std::string>{"CanonicalizationMethod", "SignatureMethod", "Reference", "Reference"}));
  EXPECT_EQ(test::Content(test::FindElement(signature, "UserName")), "Smith & Sons \xC4\x8C\xC5\xA1 \xC5\xBE");
  EXPECT_EQ(test::Content(test::FindElement(signature, "LocalTimeStamp")), "2024-05-01 10:00 <CET>");

  // The Object is signed: changing a property breaks the signature.
  std::string tampered = signedText;
  tampered.replace(tampered.find("Smith"), 5, "Smyth");
  EXPECT_FALSE(test::VerifyWithXmlsec1(tampered, SignStoreEnvironment::SignerPem()).ok);
}

TEST_F(Sign, AdvancedWithPropertiesNeverSetVerifies) {
  UseSigner();
  object_.put_Advanced(VARIANT_TRUE);
  const std::string signedText = SignOk(u"<doc/>");
  EXPECT_NE(signedText.find("<UserName/><LocalTimeStamp/>"), std::string::npos) << signedText;
  ExpectVerifies(signedText);
}

TEST_F(Sign, SignatureFollowsTrailingTextAndCommentDirectly) {
  UseSigner();
  std::string signedText = SignOk(u"<doc><a/>tail</doc>");
  EXPECT_NE(signedText.find("tail<Signature xmlns="), std::string::npos) << signedText;
  ExpectVerifies(signedText);
  signedText = SignOk(u"<doc><a/><!--note--></doc>");
  EXPECT_NE(signedText.find("<!--note--><Signature xmlns="), std::string::npos) << signedText;
  ExpectVerifies(signedText);
}

TEST_F(Sign, OnlyTheTextBeforeANulIsSigned) {
  UseSigner();
  SetXmlDoc(std::u16string(u"<doc>kept</doc>\0<junk>", 22));
  ASSERT_TRUE(RunSign());
  const std::string signedText = test::ToUtf8(XmlDoc());
  EXPECT_EQ(signedText.find("junk"), std::string::npos);
  EXPECT_NE(signedText.find("<doc>kept<Signature"), std::string::npos) << signedText;
  ExpectVerifies(signedText);
}

TEST_F(Sign, InternalEntitiesExpandAndTheSignatureVerifies) {
  UseSigner();
  const std::string signedText = SignOk(u"<!DOCTYPE doc [<!ENTITY co \"ACME d.o.o.\">]><doc>&co;</doc>");
  EXPECT_NE(signedText.find("<doc>ACME d.o.o.<Signature"), std::string::npos) << signedText;
  ExpectVerifies(signedText);
}

TEST_F(Sign, SigningASignedDocumentAddsASecondSignatureOverTheFirst) {
  UseSigner();
  object_.put_Advanced(VARIANT_TRUE);
  SignOk(u"<doc>text</doc>");
  const std::string twice = SignOk(XmlDoc());
  Doc doc = Reparse(twice);
  ASSERT_TRUE(doc);
  xmlNodePtr first = NthSignature(doc.get(), 0);
  xmlNodePtr second = NthSignature(doc.get(), 1);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(xmlDocGetRootElement(doc.get())->last, second);
  EXPECT_NE(test::Attribute(first, "Id"), test::Attribute(second, "Id"));
  ExpectVerifies(twice, "", 2);

  // The first signature is part of what the second signs.
  const std::string firstId = *test::Attribute(first, "Id");
  std::string tampered = twice;
  tampered.replace(tampered.find(firstId), firstId.size(), "Signature-TAMPERED");
  EXPECT_FALSE(test::VerifyWithXmlsec1(tampered, SignStoreEnvironment::SignerPem(), "", 2).ok);
}

TEST_F(Sign, EverySignatureHasFreshIdentifiers) {
  UseSigner();
  object_.put_Advanced(VARIANT_TRUE);
  const std::string a = SignOk(u"<doc/>");
  const std::string b = SignOk(u"<doc/>");
  const std::regex ids("Id=\"(Signature-[0-9A-F-]{36})\"[^]*Id=\"(SignProp-[0-9A-F-]{36})\"");
  std::smatch ma, mb;
  ASSERT_TRUE(std::regex_search(a, ma, ids)) << a;
  ASSERT_TRUE(std::regex_search(b, mb, ids)) << b;
  EXPECT_NE(ma[1].str(), mb[1].str());
  EXPECT_NE(ma[2].str(), mb[2].str());
  EXPECT_NE(ma[1].str().substr(10), ma[2].str().substr(9));
}

TEST_F(Sign, SingleByteEncodingsKeepEveryCharacterAndTheirDeclaration) {
  UseSigner();
  object_.put_Advanced(VARIANT_TRUE);
  object_.put_UserName(UniqueBstr::Copy(u"\u0158\u00ed\u0161a").get());
  for (const char* encoding : {"windows-1250", "ISO-8859-2"}) {
    const std::u16string declared(encoding, encoding + std::char_traits<char>::length(encoding));
    const std::u16string body = u"<doc attr=\"\u0151\u0171\">\u010d\u0161\u017e \u010c\u0160\u017d \u0105\u0119 \u0142\u00f3\u00df</doc>";
    const std::string signedText = SignOk(u"<?xml version=\"1.0\" encoding=\"" + declared + u"\"?>" + body);
    EXPECT_NE(signedText.find(std::string("encoding=\"") + encoding + "\""), std::string::npos) << signedText;
    EXPECT_NE(signedText.find(test::ToUtf8(u"\u010d\u0161\u017e \u010c\u0160\u017d \u0105\u0119 \u0142\u00f3\u00df")), std::string::npos)
        << signedText;
    EXPECT_NE(signedText.find(test::ToUtf8(u"attr=\"\u0151\u0171\"")), std::string::npos);
    EXPECT_NE(signedText.find(test::ToUtf8(u"<UserName>\u0158\u00ed\u0161a</UserName>")), std::string::npos);
    ExpectVerifies(signedText, encoding);
  }
}

// Shift_JIS as Windows has it (code page 932), where 0x5C is the backslash and 0x7E the tilde:
// iconv's SHIFT_JIS turned them into the yen sign and the overline on the way back, and the
// returned document no longer held what was signed.
TEST_F(Sign, ShiftJisGivesBackTheBackslashesAndTildesItSigned) {
  UseSigner();
  const std::u16string characters = u"C:\\forms\\a~b \u65e5\u672c\u8a9e \u30d5\u30a9\u30fc\u30e0";
  const std::string signedText =
      SignOk(u"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><doc a=\"~\\\">" + characters + u"</doc>");
  EXPECT_NE(signedText.find("encoding=\"Shift_JIS\""), std::string::npos) << signedText;
  EXPECT_NE(signedText.find(test::ToUtf8(characters)), std::string::npos) << signedText;
  EXPECT_NE(signedText.find("a=\"~\\\""), std::string::npos) << signedText;
  EXPECT_EQ(signedText.find(test::ToUtf8(u"\u00a5")), std::string::npos);
  EXPECT_EQ(signedText.find(test::ToUtf8(u"\u203e")), std::string::npos);
  // xmlsec1 reads a Shift_JIS declaration through iconv's table, so it is handed the same bytes
  // under the name of the table they were written with; the declaration is not signed.
  std::string asCp932 = signedText;
  const std::size_t declaration = asCp932.find("encoding=\"Shift_JIS\"");
  ASSERT_NE(declaration, std::string::npos);
  asCp932.replace(declaration, std::strlen("encoding=\"Shift_JIS\""), "encoding=\"CP932\"");
  ExpectVerifies(asCp932, "CP932");

  // The yen sign, the overline and the wave dash are not in code page 932: iconv's best fit writes
  // them as the bytes of the backslash, the tilde and the fullwidth tilde, so the component's
  // converter writes them as references, which are the same characters; fullwidth backslash and
  // tilde are the code page's own. Any spelling of the name is written the same way.
  const std::u16string more = u"\u00a5100 \u203e \u301c \uff3c\uff5e";
  const std::string references = SignOk(u"<?xml version=\"1.0\" encoding=\"sjis\"?><doc>" + more + u"</doc>");
  EXPECT_NE(references.find("encoding=\"sjis\""), std::string::npos) << references;
  EXPECT_NE(references.find(test::ToUtf8(u"<doc>&#165;100 &#8254; &#12316; \uff3c\uff5e<Signature")), std::string::npos)
      << references;
  std::string referencesAsCp932 = references;
  referencesAsCp932.replace(referencesAsCp932.find("encoding=\"sjis\""), std::strlen("encoding=\"sjis\""),
                            "encoding=\"CP932\"");
  ExpectVerifies(referencesAsCp932, "CP932");
}

// Converters that read some byte back as another character than the one they wrote for it, and
// markup in which a character the encoding lacks cannot be written as a reference: the written
// document would differ from the signed one, so Sign fails and leaves XmlDoc as it was.
TEST_F(Sign, DocumentThatWouldNotReadBackAsSignedIsRefused) {
  UseSigner();
  const std::u16string texts[] = {
      // glibc's windows-1258 composes a letter and a combining accent into one character.
      u"<?xml version=\"1.0\" encoding=\"windows-1258\"?><doc>A\u0300</doc>",
      // JIS X 0213's Shift_JIS reads the backslash it writes as a yen sign.
      u"<?xml version=\"1.0\" encoding=\"Shift_JISX0213\"?><doc>C:\\dir</doc>",
      // A reference is no reference inside a comment or a name.
      u"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><doc><!-- \u0161 --></doc>",
      u"<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?><doc><\u65e5/></doc>",
  };
  for (const std::u16string& text : texts) {
    SetXmlDoc(text);
    EXPECT_FALSE(RunSign()) << test::ToUtf8(text);
    EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::SigningDoc)) << test::ToUtf8(text);
    EXPECT_EQ(ErrorStr(), std::u16string(u"ERR_SIGNING_DOC"));
    EXPECT_EQ(XmlDoc(), text);
    ClearErrorState();
  }
}

// A character its encoding lacks is written as a reference, which is the character again only in
// text and attribute values: in a CDATA section or a comment it would read back as other text
// than was signed, so Sign refuses the document rather than hand that back.
TEST_F(Sign, ACharacterTheEncodingLacksIsKeptInTextAndRefusedInACdataSection) {
  UseSigner();
  const std::u16string declaration = u"<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>";
  const std::string kept = SignOk(declaration + u"<d a=\"\u65e5\">\u65e5 \u010d</d>");
  EXPECT_NE(kept.find(test::ToUtf8(u"<d a=\"&#26085;\">&#26085; \u010d")), std::string::npos) << kept;
  ExpectVerifies(kept, "ISO-8859-2");

  for (const std::u16string body : {u"<d><![CDATA[\u65e5]]></d>", u"<d><!--\u65e5--></d>"}) {
    const std::u16string text = declaration + body;
    SetXmlDoc(text);
    EXPECT_FALSE(RunSign());
    EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::SigningDoc));
    EXPECT_EQ(XmlDoc(), text);
    ClearErrorState();
  }
}

TEST_F(Sign, UnicodeDocumentAndCertificateVerify) {
  object_.put_CertFindOption(FindBySubject);
  object_.put_CertSubject(UniqueBstr::Copy(u"\u010cebelar").get());
  const std::string signedText = SignOk(u"<doc>\u4e2d\u6587 \U0001F600</doc>");
  EXPECT_NE(signedText.find(test::ToUtf8(u"\u4e2d\u6587 \U0001F600")), std::string::npos);
  test::TempDir dir;
  SignStoreEnvironment::Store().ExportPem(kUnicode.nickname, dir / "unicode.pem");
  const test::Verification verification = test::VerifyWithXmlsec1(signedText, dir / "unicode.pem");
  EXPECT_TRUE(verification.ok) << verification.output;
}

TEST_F(Sign, FindsByIssuerAndSerialAndThroughThePicker) {
  SetXmlDoc(u"<doc/>");
  object_.put_CertIssuerName(UniqueBstr::Copy(u"CN=Quillbox Test CA, O=Example, C=SI").get());
  object_.put_CertSerial(UniqueBstr::Copy(u"013cff0a").get());
  ASSERT_TRUE(RunSign()) << ErrorNo();
  ExpectVerifies(test::ToUtf8(XmlDoc()));

  ClearErrorState();
  setenv("QUILLBOX_DLL_PATH", QUILLBOX_FAKE_DIR "/cryptdlg-choose", 1);
  setenv("QUILLBOX_FAKE_CHOICE", "Test Signer", 1);
  object_.put_CertFindOption(FindByPicker);
  SetXmlDoc(u"<doc/>");
  const bool signedByPick = RunSign();
  unsetenv("QUILLBOX_FAKE_CHOICE");
  unsetenv("QUILLBOX_DLL_PATH");
  ASSERT_TRUE(signedByPick) << ErrorNo();
  ExpectVerifies(test::ToUtf8(XmlDoc()));
}

TEST_F(Sign, NoMatchingCertificate) {
  SetXmlDoc(u"<doc/>");
  object_.put_CertIssuerName(UniqueBstr::Copy(u"CN=Quillbox Test CA,O=Example,C=SI").get());  // blanks differ
  object_.put_CertSerial(UniqueBstr::Copy(u"013CFF0A").get());
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::CertNotFound, u"<doc/>");

  for (SHORT option : {SHORT{3}, SHORT{-1}}) {
    ClearErrorState();
    object_.put_CertFindOption(option);
    EXPECT_FALSE(RunSign());
    EXPECT_EQ(ErrorNo(), static_cast<LONG>(Error::CertNotFound));
  }
}

TEST_F(Sign, PickerCancelled) {
  setenv("QUILLBOX_DLL_PATH", QUILLBOX_FAKE_DIR "/cryptdlg-cancel", 1);
  object_.put_CertFindOption(FindByPicker);
  SetXmlDoc(u"<doc/>");
  EXPECT_FALSE(RunSign());
  unsetenv("QUILLBOX_DLL_PATH");
  ExpectFailure(Error::NoCertSelected, u"<doc/>");
}

TEST_F(Sign, CertificateWithoutPrivateKeyIsNotAPersonalCertificate) {
  object_.put_CertFindOption(FindBySubject);
  object_.put_CertSubject(UniqueBstr::Copy(u"Public Only").get());
  SetXmlDoc(u"<doc/>");
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::CertNotFound, u"<doc/>");
}

TEST_F(Sign, KeyNotMade) {
  UseSigner();
  SetXmlDoc(u"<doc/>");
  library_.FailAt("KeyCreate");
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::AllocKey, u"<doc/>");
  EXPECT_EQ(library_.Calls("DSigCtxDestroy"), 1);
  EXPECT_EQ(library_.Calls("KeyDestroy"), 0);
}

TEST_F(Sign, PersonalStoreNotOpened) {
  // Another database needs NSS closed first; nothing of the earlier tests may hold it.
  ASSERT_TRUE(QbCryptCloseSession());
  const std::string saved = std::getenv("QUILLBOX_NSS_DB");
  test::TempDir empty;
  setenv("QUILLBOX_NSS_DB", ("sql:" + empty.path()).c_str(), 1);
  UseSigner();
  SetXmlDoc(u"<doc/>");
  EXPECT_FALSE(RunSign());
  EXPECT_TRUE(QbCryptCloseSession());
  setenv("QUILLBOX_NSS_DB", saved.c_str(), 1);
  ExpectFailure(Error::OpenCertStore, u"<doc/>");
}

TEST_F(Sign, KeyThatCannotMakeAnRsaSignature) {
  object_.put_CertFindOption(FindBySubject);
  object_.put_CertSubject(UniqueBstr::Copy(u"Elliptic Signer").get());
  SetXmlDoc(u"<doc/>");
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::SigningDoc, u"<doc/>");
  EXPECT_NE(ErrorDesc(), std::nullopt);  // the library said why
  EXPECT_EQ(library_.Calls("DSigCtxDestroy"), 1);
  EXPECT_EQ(library_.Calls("KeyDestroy"), 1);
}

TEST_F(Sign, SigningContextNotCreated) {
  UseSigner();
  SetXmlDoc(u"<doc/>");
  library_.FailAt("DSigCtxCreate");
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::CreatingSigContext, u"<doc/>");
  EXPECT_EQ(library_.Calls("DSigCtxDestroy"), 0);
  EXPECT_EQ(library_.Calls("KeyDestroy"), 0);
}

TEST_F(Sign, SigningFails) {
  UseSigner();
  object_.put_Advanced(VARIANT_TRUE);
  SetXmlDoc(u"<doc/>");
  library_.FailAt("DSigCtxSign");
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::SigningDoc, u"<doc/>");
  EXPECT_EQ(library_.Calls("DSigCtxDestroy"), 1);
  EXPECT_EQ(library_.Calls("KeyDestroy"), 1);
}

}  // namespace
}  // namespace quillbox
