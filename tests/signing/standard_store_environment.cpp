// Every session these tests start opens NSS: it must be a throwaway copy of the test store, never
// the user's own database.
#include "support/nss_store.h"

namespace {
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new quillbox::test::StandardStoreEnvironment);
}  // namespace
