#include "hostile/signer_store.h"

namespace quillbox::test {
namespace {
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SignerStoreEnvironment);
}  // namespace

void SignerStoreEnvironment::SetUp() {
  StandardStoreEnvironment::SetUp();
  Store().ExportPem(fixture::kSigner.nickname, SignerPem());
}

std::string SignerStoreEnvironment::SignerPem() { return Store().directory() + "/signer.pem"; }

}  // namespace quillbox::test
