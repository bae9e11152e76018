// Listing "MY" costs NSS a database query per certificate and per key (several hundred
// microseconds for a single certificate, a second for a thousand); a Sign opens the store every
// time. The listing is therefore kept, with its own certificate references, and handed out again
// while its key (crypt32_listing_key.h) still matches. Whenever the key cannot be had, or differs,
// the store is listed afresh exactly as without the cache.
#include "crypt32_listing.h"

#include "crypt32_listing_key.h"
#include "crypt32_user_certs.h"
#include "nss_session.h"

#include <qbcrypt.h>

#include <cert.h>
#include <pk11pub.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <mutex>
#include <string_view>

namespace qb::platform {
namespace {

std::string_view Nickname(const CERTCertificate* cert) {
  return cert->nickname != nullptr ? std::string_view(cert->nickname) : std::string_view();
}

std::string_view Der(const CERTCertificate* cert) {
  return std::string_view(reinterpret_cast<const char*>(cert->derCert.data), cert->derCert.len);
}

std::vector<NssCertificateRef> Copies(const std::vector<NssCertificateRef>& certificates) {
  std::vector<NssCertificateRef> copies;
  copies.reserve(certificates.size());
  for (const NssCertificateRef& certificate : certificates)
    copies.emplace_back(CERT_DupCertificate(certificate.get()));
  return copies;
}

std::atomic<long> gListings{0};

struct Listing {
  std::vector<NssCertificateRef> certificates;
  bool complete = false;  // NSS answered; a failed listing gives an empty store and is not kept
};

// Sorted by nickname, then encoding, so the same database always enumerates the same way.
Listing ListFromNss() {
  gListings.fetch_add(1);
  // Read from every token without logging in to any (crypt32_user_certs.h).
  const UniqueCertList list = ListUserCertificates();
  if (!list) return {};
  std::vector<CERTCertificate*> certs;
  for (CERTCertListNode* node = CERT_LIST_HEAD(list); !CERT_LIST_END(node, list.get()); node = CERT_LIST_NEXT(node))
    certs.push_back(node->cert);
  std::sort(certs.begin(), certs.end(), [](const CERTCertificate* a, const CERTCertificate* b) {
    if (Nickname(a) != Nickname(b)) return Nickname(a) < Nickname(b);
    return Der(a) < Der(b);
  });
  // A certificate held on two tokens is one certificate of the store.
  certs.erase(std::unique(certs.begin(), certs.end(),
                          [](const CERTCertificate* a, const CERTCertificate* b) { return Der(a) == Der(b); }),
              certs.end());
  Listing listing;
  listing.complete = true;
  for (CERTCertificate* cert : certs) listing.certificates.emplace_back(CERT_DupCertificate(cert));
  return listing;
}

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Constant-initialised, so it is destroyed after the session, which empties it before NSS shuts
// down at exit.
struct Remembered {
  std::mutex lock;
  std::optional<ListingKey> key;  // set while `certificates` may be handed out again
  timespec taken{};
  std::vector<NssCertificateRef> certificates;
};
constinit Remembered gRemembered;

}  // namespace

void NssCertificateRelease::operator()(CERTCertificate* certificate) const { CERT_DestroyCertificate(certificate); }

std::optional<std::vector<NssCertificateRef>> PersonalCertificates() {
  const nss::SessionHold session;
  if (session.kind() != nss::SessionKind::Database) return std::nullopt;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::optional<ListingKey> key = CurrentListingKey(session, now);

  {
    std::lock_guard guard(gRemembered.lock);
    // A clock set back could give a later write the time of an earlier one.
    if (key && gRemembered.key == key && !Before(now, gRemembered.taken)) return Copies(gRemembered.certificates);
    // Let go first: NSS then lists from the database, not from certificate objects the old
    // references kept alive with what they knew when they were made.
    gRemembered.key.reset();
    gRemembered.certificates.clear();
  }
  // Without the lock: NSS may ask for a token's password while it lists. Another thread listing
  // at the same time is harmless, as every listing is at least as new as the key taken before it.
  Listing listing = ListFromNss();
  if (key && listing.complete) {
    std::lock_guard guard(gRemembered.lock);
    gRemembered.key = std::move(key);
    gRemembered.taken = now;
    gRemembered.certificates = Copies(listing.certificates);
  }
  return std::move(listing.certificates);
}

void ForgetPersonalListing() {
  std::lock_guard guard(gRemembered.lock);
  gRemembered.key.reset();
  gRemembered.certificates.clear();
}

}  // namespace qb::platform

extern "C" LONG WINAPI QbCertStoreListings() { return static_cast<LONG>(qb::platform::gListings.load()); }
