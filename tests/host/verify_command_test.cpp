// quillbox verify on signatures as other signers make them: KeyInfo carrying the whole chain in
// any order, with or without the names that point out the signer, and a tampered signature value.
// The signer's certificate comes from an openssl CA (an intermediate under a root, a 20-byte
// serial) and is imported into the world's store as a user would.
#include "host/command_runner.h"
#include "support/openssl_ca.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>

namespace quillbox::host::test {
namespace {

constexpr const char* kSignerSubject = "CN=Chain Signer, O=Quillbox Tests, C=SI";

// The Base64 body of a PEM certificate file.
std::string Base64Of(const std::string& pemFile) {
  const std::string pem = quillbox::test::ReadFile(pemFile);
  const std::string begin = "-----BEGIN CERTIFICATE-----\n";
  const auto start = pem.find(begin);
  const auto end = pem.find("-----END CERTIFICATE-----");
  if (start == std::string::npos || end == std::string::npos) throw std::runtime_error("no certificate in " + pemFile);
  return pem.substr(start + begin.size(), end - start - begin.size());
}

std::string CertificateElement(const std::string& base64) { return "<X509Certificate>" + base64 + "</X509Certificate>\n"; }

class QuillboxVerify : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    world_ = std::make_unique<World>();
    quillbox::test::OpensslCa root("/C=SI/O=Quillbox Tests/CN=Quillbox Chain Root");
    quillbox::test::OpensslCa intermediate = root.Intermediate("/C=SI/O=Quillbox Tests/CN=Quillbox Chain Intermediate");
    const quillbox::test::IssuedCertificate signer =
        intermediate.Issue({"/C=SI/O=Quillbox Tests/CN=Chain Signer", "", "", "", "critical,digitalSignature"});
    const std::string p12 = intermediate.ExportPkcs12(signer, "chain-signer", "transport");
    std::filesystem::create_directories(world_->Path("nssdb"));
    const Result made = world_->Program("certutil", {"-N", "-d", "sql:" + world_->Path("nssdb"), "--empty-password"});
    ASSERT_EQ(made.status, 0) << made.err;
    const Result imported =
        world_->Program("pk12util", {"-i", p12, "-d", "sql:" + world_->Path("nssdb"), "-W", "transport", "-K", ""});
    ASSERT_EQ(imported.status, 0) << imported.out << imported.err;
    // Another end-entity certificate of the same CA: a second certificate that issued no other.
    other_ = Base64Of(intermediate.Issue({"/C=SI/O=Quillbox Tests/CN=Other Leaf", "", "", "", ""}).certificatePem);
    signer_ = Base64Of(signer.certificatePem);
    intermediate_ = Base64Of(intermediate.certificatePem());
    root_ = Base64Of(root.certificatePem());

    const Result signed_ = world_->Quillbox({"sign", "--subject", "Chain Signer"}, "<doc><amount>100</amount></doc>");
    ASSERT_EQ(signed_.status, 0) << signed_.err;
    signed_text_ = signed_.out;
  }
  static void TearDownTestSuite() { world_.reset(); }

  // The signed document with its X509Data replaced by `x509Data`'s content.
  static std::string WithX509Data(const std::string& x509Data) {
    const std::regex data("<X509Data>[^]*</X509Data>");
    return std::regex_replace(signed_text_, data, "<X509Data>\n" + x509Data + "</X509Data>");
  }
  // The children that name the signer, as Sign wrote them.
  static std::string Names() {
    std::smatch match;
    const std::regex names("<X509SubjectName>[^]*</X509IssuerSerial>");
    return std::regex_search(signed_text_, match, names) ? match.str() + "\n" : "";
  }
  static std::string SubjectNameOnly() {
    std::smatch match;
    const std::regex subject("<X509SubjectName>[^<]*</X509SubjectName>");
    return std::regex_search(signed_text_, match, subject) ? match.str() + "\n" : "";
  }
  static std::string IssuerSerialOnly() {
    std::smatch match;
    const std::regex issuerSerial("<X509IssuerSerial>[^]*</X509IssuerSerial>");
    return std::regex_search(signed_text_, match, issuerSerial) ? match.str() + "\n" : "";
  }

  static Result Verify(const std::string& name, const std::string& document) {
    world_->Write(name, document);
    return world_->Quillbox({"verify", world_->Path(name)});
  }
  static void ExpectValidBySigner(const std::string& name, const std::string& document) {
    const Result verified = Verify(name, document);
    EXPECT_EQ(verified.status, 0) << name << "\n" << verified.out << verified.err << document;
    EXPECT_NE(verified.out.find("signature 1: valid"), std::string::npos) << name << "\n" << verified.out;
    EXPECT_NE(verified.out.find(std::string("subject: ") + kSignerSubject), std::string::npos)
        << name << "\n" << verified.out;
  }

  static inline std::unique_ptr<World> world_;
  static inline std::string signer_, other_, intermediate_, root_, signed_text_;
};

TEST_F(QuillboxVerify, SignatureAsSignedVerifies) {
  ExpectValidBySigner("as-signed.xml", signed_text_);
  EXPECT_FALSE(Names().empty());
}

// An unrelated end-entity certificate comes first, so only the names can tell which is the signer's.
TEST_F(QuillboxVerify, ChainInAnyOrderIsReadByTheNamesThatPointOutTheSigner) {
  const std::string other = CertificateElement(other_);
  const std::string root = CertificateElement(root_);
  const std::string intermediate = CertificateElement(intermediate_);
  const std::string signer = CertificateElement(signer_);
  ExpectValidBySigner("issuer-serial.xml", WithX509Data(other + root + intermediate + signer + IssuerSerialOnly()));
  ExpectValidBySigner("subject-name.xml", WithX509Data(other + intermediate + root + signer + SubjectNameOnly()));
  ExpectValidBySigner("both-names.xml", WithX509Data(other + root + signer + intermediate + Names()));
  // Written by another signer: an RFC 2253 name without blanks.
  std::string compact = SubjectNameOnly();
  compact = std::regex_replace(compact, std::regex(", "), ",");
  ExpectValidBySigner("compact-name.xml", WithX509Data(other + signer + compact));
}

TEST_F(QuillboxVerify, WithoutNamesTheSignerIsTheCertificateThatIssuedNoOther) {
  const std::string root = CertificateElement(root_);
  const std::string intermediate = CertificateElement(intermediate_);
  const std::string signer = CertificateElement(signer_);
  ExpectValidBySigner("leaf-last.xml", WithX509Data(root + intermediate + signer));
  ExpectValidBySigner("leaf-middle.xml", WithX509Data(intermediate + signer + root));
  ExpectValidBySigner("leaf-first.xml", WithX509Data(signer + root + intermediate));
}

TEST_F(QuillboxVerify, ChainWithoutTheSignerDoesNotVerify) {
  const Result verified =
      Verify("no-signer.xml", WithX509Data(CertificateElement(root_) + CertificateElement(intermediate_)));
  EXPECT_EQ(verified.status, 1);
  EXPECT_NE(verified.out.find("INVALID"), std::string::npos) << verified.out;
}

TEST_F(QuillboxVerify, TamperedSignatureValueDoesNotMatch) {
  std::string tampered = signed_text_;
  const auto value = tampered.find("<SignatureValue>");
  ASSERT_NE(value, std::string::npos);
  char& c = tampered[value + std::string("<SignatureValue>").size() + 5];
  c = c == 'A' ? 'B' : 'A';
  const Result verified = Verify("tampered-value.xml", tampered);
  EXPECT_EQ(verified.status, 1);
  EXPECT_NE(verified.out.find("INVALID"), std::string::npos) << verified.out;
  EXPECT_NE(verified.out.find("does not match"), std::string::npos) << verified.out;
  EXPECT_NE(verified.out.find("signature value"), std::string::npos) << verified.out;
}

TEST_F(QuillboxVerify, TamperedContentDoesNotMatchTheDocument) {
  std::string tampered = signed_text_;
  tampered.replace(tampered.find("100"), 3, "900");
  const Result verified = Verify("tampered-content.xml", tampered);
  EXPECT_EQ(verified.status, 1);
  EXPECT_NE(verified.out.find("does not match the document"), std::string::npos) << verified.out;
}

}  // namespace
}  // namespace quillbox::host::test
