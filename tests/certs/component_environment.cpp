#include "support/nss_store.h"

namespace {
const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new quillbox::test::StandardStoreEnvironment);
}
