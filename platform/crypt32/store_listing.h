// The personal store's listing: the certificates with a private key, in store order, remembered
// between store opens while nothing it depends on has changed (store_listing_key.h). The order
// depends on the time of the call (valid certificates first), so it is made afresh every time.
#pragma once

#include <memory>
#include <optional>
#include <vector>

struct CERTCertificateStr;

namespace qb::platform {

struct NssCertificateRelease {
  void operator()(CERTCertificateStr* certificate) const;
};
using NssCertificateRef = std::unique_ptr<CERTCertificateStr, NssCertificateRelease>;

// The certificates of "MY" in enumeration order, each a reference of the caller's own; nullopt
// when no database session is open.
std::optional<std::vector<NssCertificateRef>> PersonalCertificates();

}  // namespace qb::platform
