// Listing "MY" costs NSS a database query per certificate and per key (several hundred
// microseconds for a single certificate, a second for a thousand); a Sign opens the store every
// time. The listing is therefore kept, with its own certificate references, and handed out again
// while its key (store_listing_key.h) still matches. Whenever the key cannot be had, or differs,
// the store is listed afresh exactly as without the cache.
#include "store_listing.h"

#include "store_listing_key.h"
#include "user_certs.h"
#include "nss_session.h"

#include <qbcrypt.h>

#include <cert.h>
#include <pk11pub.h>

#include <algorithm>
#include <atomic>
#include <compare>
#include <ctime>
#include <mutex>
#include <string_view>
#include <utility>

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

// Sorted by nickname, then encoding, so the same database always enumerates the same way; the
// store orders it by validity when it opens (OrderAt).
Listing ListFromNss() {
  gListings.fetch_add(1);
  // Read from every token without logging in to any (user_certs.h).
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
  // Room first: a reference taken for an emplace that then fails to grow the vector would leak.
  listing.certificates.reserve(certs.size());
  for (CERTCertificate* cert : certs) listing.certificates.emplace_back(CERT_DupCertificate(cert));
  return listing;
}

// Where a certificate stands at `now`: the groups in store order, and within a group the key that
// puts the likeliest choice first.
struct ValidityRank {
  int group = 0;  // 0 valid, 1 not yet valid, 2 expired, 3 validity unreadable
  PRTime key = 0;
  auto operator<=>(const ValidityRank&) const = default;
};

ValidityRank RankAt(const CERTCertificate* cert, PRTime now) {
  PRTime notBefore = 0;
  PRTime notAfter = 0;
  if (CERT_GetCertTimes(cert, &notBefore, &notAfter) != SECSuccess) return {3, 0};
  if (now < notBefore) return {1, notBefore};  // the soonest valid first
  if (now > notAfter) return {2, -notAfter};   // the most recently expired first
  return {0, -notBefore};                      // the newest first: a renewal before what it renews
}

// The listing in the order of the store opened at `now`: certificates valid now first, the
// newest validity start first, then those not yet valid, then the expired ones. The sort is
// stable, so ties keep the listing's own order (nickname, then encoding). Done at every store
// open, also from the remembered listing, since "now" moves while the listing stays the same.
void OrderAt(std::vector<NssCertificateRef>& certificates, PRTime now) {
  std::vector<std::pair<ValidityRank, NssCertificateRef>> ranked;
  ranked.reserve(certificates.size());
  for (NssCertificateRef& certificate : certificates) {
    const ValidityRank rank = RankAt(certificate.get(), now);
    ranked.emplace_back(rank, std::move(certificate));
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < ranked.size(); ++i) certificates[i] = std::move(ranked[i].second);
}

PRTime PrTimeOf(const timespec& t) { return PRTime{t.tv_sec} * PR_USEC_PER_SEC + t.tv_nsec / 1000; }

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

// Lets go of the remembered listing and its references; the session runs this before NSS shuts
// down, which would otherwise find the certificates in use.
void ForgetPersonalListing() {
  std::lock_guard guard(gRemembered.lock);
  gRemembered.key.reset();
  gRemembered.certificates.clear();
}

}  // namespace

void NssCertificateRelease::operator()(CERTCertificate* certificate) const { CERT_DestroyCertificate(certificate); }

std::optional<std::vector<NssCertificateRef>> PersonalCertificates() {
  // Before anything is remembered, so that a close always finds what to let go of.
  static const bool registered = (nss::ReleaseBeforeClose(&ForgetPersonalListing), true);
  (void)registered;
  const nss::SessionHold session;
  if (session.kind() != nss::SessionKind::Database) return std::nullopt;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::optional<ListingKey> key = CurrentListingKey(session, now);

  {
    std::lock_guard guard(gRemembered.lock);
    // A clock set back could give a later write the time of an earlier one.
    if (key && gRemembered.key == key && !Before(now, gRemembered.taken)) {
      std::vector<NssCertificateRef> certificates = Copies(gRemembered.certificates);
      OrderAt(certificates, PrTimeOf(now));
      return certificates;
    }
    // Let go first: NSS then lists from the database, not from certificate objects the old
    // references kept alive with what they knew when they were made.
    gRemembered.key.reset();
    gRemembered.certificates.clear();
  }
  // Without the lock: NSS may ask for a token's password while it lists. Another thread listing
  // at the same time is harmless, as every listing is at least as new as the key taken before it.
  Listing listing = ListFromNss();
  if (key && listing.complete) {
    // Copied before the key is set: a copy that runs out of memory must not leave the key of this
    // listing remembered beside no certificates, which later opens would take for the store.
    std::vector<NssCertificateRef> remembered = Copies(listing.certificates);
    std::lock_guard guard(gRemembered.lock);
    gRemembered.certificates = std::move(remembered);
    gRemembered.taken = now;
    gRemembered.key = std::move(key);
  }
  OrderAt(listing.certificates, PrTimeOf(now));
  return std::move(listing.certificates);
}

}  // namespace qb::platform

extern "C" LONG WINAPI QbCertStoreListings() { return static_cast<LONG>(qb::platform::gListings.load()); }
