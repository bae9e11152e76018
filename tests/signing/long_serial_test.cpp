// Signing with certificates as a real CA issues them: serials of 1 to 21 bytes (20 is what openssl
// and most CAs draw), issued under an intermediate and imported from PKCS#12. Each signs by every
// find option, carries its exact serial in X509SerialNumber and verifies with xmlsec1.
#include "certs/cert_handles.h"
#include "signing/sign_fixture.h"
#include "signing/verifier.h"
#include "signing/xml_tree_helpers.h"
#include "support/crypto_session.h"
#include "signing/signing_key.h"
#include "support/openssl_ca.h"
#include "support/recorded.h"
#include "support/sign_document.h"
#include "support/utf_text.h"

#include <qbcrypt.h>

#include <libxml/parser.h>

#include <memory>
#include <string>
#include <vector>

namespace quillbox {
namespace {

constexpr const char* kIssuerText = "CN=Quillbox Serial Intermediate CA, O=Quillbox Tests, C=SI";

struct Signer {
  std::string name;       // the CN, unique among the signers
  std::string serialHex;  // as issued
  std::string pem;        // the certificate
  // CertSerial's text: the DER integer's bytes, so a serial whose top bit is set gains a 00.
  std::string serialText() const { return (serialHex[0] >= '8' ? "00" : "") + serialHex; }
};

// The serial's decimal value, by doubling a decimal string: a way of its own, not the one Sign uses.
std::string HexToDecimal(const std::string& hex) {
  std::string decimal = "0";
  for (char digit : hex) {
    const int nibble = digit <= '9' ? digit - '0' : digit - 'A' + 10;
    for (int bit = 3; bit >= 0; --bit) {
      int carry = (nibble >> bit) & 1;
      for (auto it = decimal.rbegin(); it != decimal.rend(); ++it) {
        const int value = (*it - '0') * 2 + carry;
        *it = static_cast<char>('0' + value % 10);
        carry = value / 10;
      }
      if (carry != 0) decimal.insert(decimal.begin(), '1');
    }
  }
  return decimal;
}

struct World {
  std::vector<Signer> signers;
};
World& TheWorld() {
  static World world;
  return world;
}

class CaIssuedStore : public test::CaIssuedStoreEnvironment {
 protected:
  void Fill(test::NssDatabase& database) override {
    test::OpensslCa root;
    test::OpensslCa intermediate = root.Intermediate("/C=SI/O=Quillbox Tests/CN=Quillbox Serial Intermediate CA");
    World& world = TheWorld();
    const std::vector<std::pair<std::string, std::string>> serials = {
        {"Serial 1", "05"},
        {"Serial 8", "7F0102030405060F"},
        {"Serial 9", "0100000000000000FF"},
        {"Serial 16", "4AF2C3D4E5F60718293A4B5C6D7E8F90"},
        {"Serial 20", ""},  // drawn at random, as openssl does
        {"Serial 20 High", "F1E2D3C4B5A69788796A5B4C3D2E1F0012345678"},
        {"Serial 21", "123456789ABCDEF0123456789ABCDEF0123456789A"},
    };
    for (const auto& [name, hex] : serials) {
      const test::IssuedCertificate issued = intermediate.Issue(
          {"/C=SI/O=Quillbox Tests/CN=" + name, hex, "", "", "critical,digitalSignature,nonRepudiation"});
      intermediate.ImportInto(database, issued, name);
      const std::string pem = database.directory() + "/" + std::to_string(world.signers.size()) + ".pem";
      test::WriteFile(pem, test::ReadFile(issued.certificatePem));
      world.signers.push_back({name, issued.serialHex, pem});
    }
  }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CaIssuedStore);

struct DocDeleter {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocDeleter>;

class LongSerial : public test::SignFixture {
 protected:
  // Signs a small document and expects success; the signed text as UTF-8.
  std::string SignOk() {
    SetXmlDoc(u"<invoice><total>42.00</total></invoice>");
    EXPECT_TRUE(RunSign()) << "error " << ErrorNo() << ": " << test::ToUtf8(ErrorDesc().value_or(u""));
    return test::ToUtf8(XmlDoc());
  }
  // The signed text verifies with `signer`'s key alone, and its X509Data names `signer` exactly.
  static void ExpectSignedBy(const std::string& signedText, const Signer& signer) {
    const test::Verification verification = test::VerifyWithXmlsec1(signedText, signer.pem);
    EXPECT_TRUE(verification.ok) << signer.name << ": " << verification.output;
    Doc doc(xmlReadMemory(signedText.data(), static_cast<int>(signedText.size()), "signed.xml", nullptr, 0));
    ASSERT_TRUE(doc);
    xmlNodePtr x509Data = test::FindElement(xmlDocGetRootElement(doc.get()), "X509Data");
    ASSERT_NE(x509Data, nullptr);
    EXPECT_EQ(test::ElementNames(x509Data),
              (std::vector<std::string>{"X509Certificate", "X509SubjectName", "X509IssuerSerial"}));
    EXPECT_EQ(test::Content(test::FindElement(x509Data, "X509SubjectName")),
              "CN=" + signer.name + ", O=Quillbox Tests, C=SI");
    xmlNodePtr issuerSerial = test::FindElement(x509Data, "X509IssuerSerial");
    EXPECT_EQ(test::ElementNames(issuerSerial), (std::vector<std::string>{"X509IssuerName", "X509SerialNumber"}));
    EXPECT_EQ(test::Content(test::FindElement(issuerSerial, "X509IssuerName")), kIssuerText);
    EXPECT_EQ(test::Content(test::FindElement(issuerSerial, "X509SerialNumber")), HexToDecimal(signer.serialHex))
        << signer.name << " " << signer.serialHex;
  }
  static const Signer& Named(const std::string& name) {
    for (const Signer& signer : TheWorld().signers)
      if (signer.name == name) return signer;
    throw std::runtime_error("no signer " + name);
  }
};

TEST(SerialDecimal, TheTestsOwnConversionIsRight) {
  EXPECT_EQ(HexToDecimal("05"), "5");
  EXPECT_EQ(HexToDecimal("010000000000000000"), "18446744073709551616");
  EXPECT_EQ(HexToDecimal("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"), "1461501637330902918203684832716283019655932542975");
}

TEST_F(LongSerial, EveryLengthSignsByIssuerAndSerialWithItsExactDecimal) {
  for (const Signer& signer : TheWorld().signers) {
    SCOPED_TRACE(signer.name);
    ClearErrorState();
    object_.put_CertFindOption(FindByIssuerSerial);
    object_.put_CertIssuerName(UniqueBstr::Copy(test::FromUtf8(kIssuerText)).get());
    object_.put_CertSerial(UniqueBstr::Copy(test::FromUtf8(signer.serialText())).get());
    ExpectSignedBy(SignOk(), signer);
  }
}

TEST_F(LongSerial, TwentyByteSerialsSignBySubjectAndThroughThePicker) {
  for (const char* name : {"Serial 20", "Serial 20 High", "Serial 21"}) {
    SCOPED_TRACE(name);
    const Signer& signer = Named(name);
    ClearErrorState();
    object_.put_CertFindOption(FindBySubject);
    object_.put_CertSubject(UniqueBstr::Copy(test::FromUtf8(signer.name + ",")).get());
    ExpectSignedBy(SignOk(), signer);

    ClearErrorState();
    setenv("QUILLBOX_DLL_PATH", QUILLBOX_FAKE_DIR "/cryptdlg-choose", 1);
    setenv("QUILLBOX_FAKE_CHOICE", (signer.name + ",").c_str(), 1);
    object_.put_CertFindOption(FindByPicker);
    const std::string picked = SignOk();
    unsetenv("QUILLBOX_FAKE_CHOICE");
    unsetenv("QUILLBOX_DLL_PATH");
    ExpectSignedBy(picked, signer);
  }
}

TEST_F(LongSerial, AdvancedSignatureWithTheLongestSerialVerifies) {
  object_.put_CertFindOption(FindBySubject);
  object_.put_CertSubject(UniqueBstr::Copy(u"Serial 21").get());
  object_.put_Advanced(VARIANT_TRUE);
  object_.put_UserName(UniqueBstr::Copy(u"Ana Novak").get());
  const std::string signedText = SignOk();
  const test::Verification verification = test::VerifyWithXmlsec1(signedText, Named("Serial 21").pem);
  EXPECT_TRUE(verification.ok) << verification.output;
  EXPECT_NE(signedText.find("<UserName>Ana Novak</UserName>"), std::string::npos);
}

// The certificate is written exactly as xmlsec itself writes an X509Certificate that it fills.
TEST_F(LongSerial, CertificateTextIsWhatTheLibraryWouldWrite) {
  object_.put_CertFindOption(FindBySubject);
  object_.put_CertSubject(UniqueBstr::Copy(u"Serial 20 High").get());
  const std::string ours = SignOk();

  std::string theirs;
  {
    test::CryptoSession session;
    UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
    ASSERT_TRUE(store);
    UniqueCertContext found = test::Recorded(FindCertificate(store.get(), object_.certificateQuery()));
    ASSERT_TRUE(found);
    xmlSecKeyPtr key = test::Recorded(CreateSigningKey(found.get())).release();
    ASSERT_NE(key, nullptr);
    const test::SignedDocument signed_ = test::SignSmallDocument(key, "<doc/>");
    xmlSecKeyDestroy(key);
    ASSERT_EQ(signed_.status, 0);
    theirs = signed_.xml;
  }
  const auto certificateText = [](const std::string& text) {
    const std::string open = "<X509Certificate>";
    const auto start = text.find(open);
    const auto end = text.find("</X509Certificate>");
    return start == std::string::npos || end == std::string::npos ? std::string() : text.substr(start, end - start);
  };
  EXPECT_FALSE(certificateText(ours).empty());
  EXPECT_EQ(certificateText(ours), certificateText(theirs));
}

TEST_F(LongSerial, ContextThatCannotBeToldToLeaveKeyInfoFailsBeforeSigning) {
  object_.put_CertFindOption(FindBySubject);
  object_.put_CertSubject(UniqueBstr::Copy(u"Serial 20 High").get());
  SetXmlDoc(u"<doc/>");
  library_.FailAt("DSigCtxLeaveKeyInfo");
  EXPECT_FALSE(RunSign());
  ExpectFailure(Error::CreatingSigContext, u"<doc/>");
  EXPECT_EQ(library_.Calls("DSigCtxDestroy"), 1);
}

}  // namespace
}  // namespace quillbox
