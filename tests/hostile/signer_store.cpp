#include "hostile/signer_store.h"

#include "signing/verifier.h"

namespace quillbox::test {
namespace {
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SignerStoreEnvironment);
}  // namespace

void SignerStoreEnvironment::SetUp() {
  StandardStoreEnvironment::SetUp();
  Store().ExportPem(fixture::kSigner.nickname, SignerPem());
}

std::string SignerStoreEnvironment::SignerPem() { return Store().directory() + "/signer.pem"; }

void ExpectSignedBySigner(const std::string& signedText, const std::string& encoding) {
  const Verification verification = VerifyWithXmlsec1(signedText, SignerStoreEnvironment::SignerPem(), encoding);
  EXPECT_TRUE(verification.ok) << verification.output;
}

}  // namespace quillbox::test
