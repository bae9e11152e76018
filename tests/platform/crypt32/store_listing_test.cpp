// Opening the personal store reuses the previous listing only while the database, the tokens and
// the session are as they were: every change made elsewhere shows in the next store opened.
//
// The listing is kept only once the database files are older than the coarsest file timestamps;
// the tests date them back an hour so that it is kept at once, and count NSS listings
// (QbCertStoreListings) to tell a reused listing from a fresh one.
#include "support/nss_store.h"
#include "support/openssl_ca.h"

#include <windows.h>
#include <qbcrypt.h>
#include <wincrypt.h>

#include <cert.h>
#include <certdb.h>
#include <pk11pub.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillbox::test {
namespace {

using Bytes = std::vector<BYTE>;

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

Store OpenPersonal() { return Store(CertOpenSystemStoreA(0, "MY")); }

Bytes EncodedOf(PCCERT_CONTEXT certificate) {
  return Bytes(certificate->pbCertEncoded, certificate->pbCertEncoded + certificate->cbCertEncoded);
}

std::vector<Bytes> Enumerate(HCERTSTORE store) {
  std::vector<Bytes> all;
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store, current)) != nullptr) all.push_back(EncodedOf(current));
  return all;
}

// The certificates of a freshly opened store; empty when it does not open.
std::vector<Bytes> ListedNow() {
  const Store store = OpenPersonal();
  EXPECT_TRUE(store);
  return store ? Enumerate(store.get()) : std::vector<Bytes>{};
}

// Opens a store and checks that it came from the remembered listing: a change that a fresh
// listing would have shown anyway proves nothing about when the listing is dropped.
void ExpectReused() {
  const LONG before = QbCertStoreListings();
  ListedNow();
  EXPECT_EQ(QbCertStoreListings(), before) << "the listing was not reused";
}

bool Holds(const std::vector<Bytes>& listed, const Bytes& certificate) {
  return std::find(listed.begin(), listed.end(), certificate) != listed.end();
}

Bytes DerOf(const NssDatabase& database, const std::string& nickname) {
  TempDir dir;
  database.ExportDer(nickname, dir / "cert.der");
  const std::string der = ReadFile(dir / "cert.der");
  return Bytes(der.begin(), der.end());
}

// Sets the modification (and access) time of a database directory and its two files.
void SetDatabaseTimes(const std::string& directory, std::time_t when) {
  const timespec times[2] = {{when, 0}, {when, 0}};
  for (const std::string& path : {directory, directory + "/cert9.db", directory + "/key4.db"})
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}
void SetDatabaseTimes(const NssDatabase& database, std::time_t when) { SetDatabaseTimes(database.directory(), when); }

// As if the database was last written `seconds` ago.
void DateBack(const std::string& directory, int seconds = 3600) {
  SetDatabaseTimes(directory, std::time(nullptr) - seconds);
}
void DateBack(const NssDatabase& database, int seconds = 3600) { DateBack(database.directory(), seconds); }

// Every test starts its own session on its own copy of the standard store, and ends by checking
// that NSS shuts down without a reference held, the remembered listing's included.
class RememberedListing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QbCryptCloseSession());
    if (const char* configured = std::getenv("QUILLBOX_NSS_DB")) saved = configured;
    database = std::make_unique<NssDatabase>(StandardStore());
    UseDatabase(*database);
  }
  void TearDown() override {
    SetLastError(0);
    EXPECT_TRUE(QbCryptCloseSession()) << "NSS was busy: a certificate reference was still held";
    if (saved) {
      setenv("QUILLBOX_NSS_DB", saved->c_str(), 1);
    } else {
      unsetenv("QUILLBOX_NSS_DB");
    }
  }
  // Opens the session on `db` (NSS writes its module list beside a database it opens for the
  // first time), then dates the database back.
  static void UseDatabase(const NssDatabase& db) {
    setenv("QUILLBOX_NSS_DB", db.location().c_str(), 1);
    ASSERT_TRUE(QbCryptOpenSession(TRUE));
    DateBack(db);
  }

  std::optional<std::string> saved;
  std::unique_ptr<NssDatabase> database;
};

TEST_F(RememberedListing, UnchangedDatabaseIsListedOnceAndEveryStoreHasItsOwnCertificates) {
  const LONG before = QbCertStoreListings();
  const Store first = OpenPersonal();
  ASSERT_TRUE(first);
  EXPECT_EQ(QbCertStoreListings(), before + 1);
  const Store second = OpenPersonal();
  ASSERT_TRUE(second);
  EXPECT_EQ(QbCertStoreListings(), before + 1);

  EXPECT_EQ(Enumerate(second.get()), Enumerate(first.get()));
  EXPECT_EQ(Enumerate(first.get()).size(), std::size(fixture::kWithKeys));
  PCCERT_CONTEXT a = CertEnumCertificatesInStore(first.get(), nullptr);
  PCCERT_CONTEXT b = CertEnumCertificatesInStore(second.get(), nullptr);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->hCertStore, first.get());
  EXPECT_EQ(b->hCertStore, second.get());
  EXPECT_EQ(QbCertReferenceCount(a), 2);  // the store's and ours, in each store alike
  EXPECT_EQ(QbCertReferenceCount(b), 2);
  CertFreeCertificateContext(a);
  CertFreeCertificateContext(b);
}

TEST_F(RememberedListing, CertificateAddedByAnotherProcessIsInTheNextStore) {
  const std::vector<Bytes> before = ListedNow();
  ExpectReused();

  database->AddCertificate({"late", "CN=Late Arrival,O=Example,C=SI", "", 900});
  DateBack(*database, 1800);  // the store is opened again some time later
  const std::vector<Bytes> after = ListedNow();
  EXPECT_EQ(after.size(), before.size() + 1);
  EXPECT_TRUE(Holds(after, DerOf(*database, "late")));
}

TEST_F(RememberedListing, CertificateDeletedByAnotherProcessIsGoneFromTheNextStoreOnly) {
  const Bytes second = DerOf(*database, fixture::kSecond.nickname);
  const Store open = OpenPersonal();
  ASSERT_TRUE(open);
  ASSERT_TRUE(Holds(Enumerate(open.get()), second));
  ExpectReused();

  database->DeleteCertificate(fixture::kSecond.nickname);
  DateBack(*database, 1800);
  EXPECT_FALSE(Holds(ListedNow(), second));
  // A store opened before keeps what it was opened with.
  EXPECT_TRUE(Holds(Enumerate(open.get()), second));
}

// Two certificates valid over the same window, imported under `first` and `second`, and their DER.
std::pair<Bytes, Bytes> ImportTwins(NssDatabase& database, const std::string& first, const std::string& second) {
  OpensslCa ca;
  const std::string from = OpensslTimeFromNow(std::chrono::days(-10));
  const std::string until = OpensslTimeFromNow(std::chrono::days(300));
  Bytes der[2];
  const std::string nicknames[2] = {first, second};
  for (int i = 0; i < 2; ++i) {
    ca.ImportInto(database, ca.Issue({"/O=Quillbox Tests/CN=Twin " + nicknames[i], "", from, until, ""}), nicknames[i]);
    der[i] = DerOf(database, nicknames[i]);
  }
  return {der[0], der[1]};
}

std::ptrdiff_t PlaceOf(const std::vector<Bytes>& listed, const Bytes& certificate) {
  return std::find(listed.begin(), listed.end(), certificate) - listed.begin();
}

TEST_F(RememberedListing, RenamedCertificateTakesItsNewPlaceInTheOrder) {
  // Equally new certificates go by nickname: a rename moves one past the other.
  const auto [a, b] = ImportTwins(*database, "twin-a", "twin-b");
  DateBack(*database);
  const std::vector<Bytes> before = ListedNow();
  ASSERT_LT(PlaceOf(before, a), PlaceOf(before, b));
  ExpectReused();

  const CommandResult renamed =
      RunCommand({"certutil", "--rename", "-d", database->location(), "-n", "twin-a", "--new-n", "zz-twin-a"});
  ASSERT_EQ(renamed.status, 0) << renamed.output;
  DateBack(*database, 1800);
  const std::vector<Bytes> after = ListedNow();
  ASSERT_EQ(after.size(), before.size());
  EXPECT_GT(PlaceOf(after, a), PlaceOf(after, b));
  EXPECT_LT(PlaceOf(after, b), static_cast<std::ptrdiff_t>(after.size()));
}

// The order is the store's at the moment it opens: a certificate that expires while the listing
// is remembered moves behind the valid ones in the next store, without NSS being asked again.
TEST_F(RememberedListing, CertificateThatExpiresMovesBackAlthoughTheListingIsReused) {
  OpensslCa ca;
  const std::time_t expiry = std::time(nullptr) + 3;
  const IssuedCertificate expiring =
      ca.Issue({"/O=Quillbox Tests/CN=Expiring Soon", "", OpensslTimeFromNow(std::chrono::days(-1)),
                OpensslTimeFromNow(std::chrono::seconds(expiry - std::time(nullptr))), ""});
  const IssuedCertificate staying = ca.Issue(
      {"/O=Quillbox Tests/CN=Staying Valid", "", OpensslTimeFromNow(std::chrono::days(-2)), "", ""});
  ca.ImportInto(*database, expiring, "expiring");
  ca.ImportInto(*database, staying, "staying");
  const Bytes soon = DerOf(*database, "expiring");
  const Bytes stays = DerOf(*database, "staying");
  DateBack(*database);

  const std::vector<Bytes> before = ListedNow();
  if (std::time(nullptr) >= expiry) GTEST_SKIP() << "the machine was too slow to see the certificate valid";
  EXPECT_LT(PlaceOf(before, soon), PlaceOf(before, stays));  // valid and the newer of the two

  // Waits for the clock, not for a duration: the assertion depends only on the expiry being past.
  while (std::time(nullptr) <= expiry) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const LONG listings = QbCertStoreListings();
  const std::vector<Bytes> after = ListedNow();
  EXPECT_EQ(QbCertStoreListings(), listings) << "the listing was not reused";
  EXPECT_EQ(after.size(), before.size());
  EXPECT_GT(PlaceOf(after, soon), PlaceOf(after, stays));
  EXPECT_EQ(after.back(), soon);  // the only expired certificate
}

TEST_F(RememberedListing, ChangeIsSeenWhenTheFileTimesArePutBack) {
  const Bytes second = DerOf(*database, fixture::kSecond.nickname);
  ASSERT_TRUE(Holds(ListedNow(), second));
  ExpectReused();
  struct stat before {};
  ASSERT_EQ(stat((database->directory() + "/cert9.db").c_str(), &before), 0);

  database->DeleteCertificate(fixture::kSecond.nickname);
  SetDatabaseTimes(*database, before.st_mtim.tv_sec);  // as a copy that keeps times would
  EXPECT_FALSE(Holds(ListedNow(), second));
}

// Changes the working directory for the life of the object.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& path) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~WorkingDirectory() { std::filesystem::current_path(saved_); }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path saved_;
};

TEST_F(RememberedListing, RelativeLocationIsTheDatabaseOpenedEvenAfterTheWorkingDirectoryMoves) {
  // Two databases under the same relative name; the session opens the first.
  TempDir first;
  TempDir second;
  for (const TempDir* parent : {&first, &second})
    std::filesystem::copy(database->directory(), *parent / "nssdb", std::filesystem::copy_options::recursive);
  ASSERT_TRUE(QbCryptCloseSession());
  std::optional<WorkingDirectory> working;
  working.emplace(first.path());
  setenv("QUILLBOX_NSS_DB", "sql:nssdb", 1);
  ASSERT_TRUE(QbCryptOpenSession(TRUE));
  working.reset();
  WorkingDirectory elsewhere(second.path());
  DateBack(first / "nssdb");
  DateBack(second / "nssdb");
  const Bytes signer = DerOf(*database, fixture::kSigner.nickname);
  ASSERT_TRUE(Holds(ListedNow(), signer));
  ExpectReused();

  const CommandResult deleted =
      RunCommand({"certutil", "-D", "-d", "sql:" + (first / "nssdb"), "-n", fixture::kSigner.nickname});
  ASSERT_EQ(deleted.status, 0) << deleted.output;
  DateBack(first / "nssdb", 1800);
  EXPECT_FALSE(Holds(ListedNow(), signer));
  EXPECT_TRUE(QbCryptCloseSession());  // before the directories go
}

TEST_F(RememberedListing, CertificateDeletedThroughNssInThisProcessIsGone) {
  const Bytes second = DerOf(*database, fixture::kSecond.nickname);
  ASSERT_TRUE(Holds(ListedNow(), second));
  ExpectReused();

  CERTCertificate* cert = CERT_FindCertByNickname(CERT_GetDefaultCertDB(), fixture::kSecond.nickname);
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(SEC_DeletePermCertificate(cert), SECSuccess);
  CERT_DestroyCertificate(cert);
  const std::vector<Bytes> after = ListedNow();
  EXPECT_FALSE(Holds(after, second));
  EXPECT_EQ(after.size(), std::size(fixture::kWithKeys) - 1);
}

TEST_F(RememberedListing, DatabaseDatedInTheFutureIsListedEveryTime) {
  // A file just written, or written by a machine whose clock runs ahead, cannot be told apart
  // from the next write by its time.
  SetDatabaseTimes(*database, std::time(nullptr) + 3600);
  const LONG before = QbCertStoreListings();
  const std::vector<Bytes> first = ListedNow();
  const std::vector<Bytes> second = ListedNow();
  EXPECT_EQ(QbCertStoreListings(), before + 2);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first.size(), std::size(fixture::kWithKeys));
}

TEST_F(RememberedListing, WriteUnderWayMeansAFreshListing) {
  ASSERT_FALSE(ListedNow().empty());
  // A journal beside the database: another program is writing, or was cut off while writing.
  WriteFile(database->directory() + "/cert9.db-journal", "");
  DateBack(*database);
  const LONG before = QbCertStoreListings();
  ListedNow();
  ListedNow();
  EXPECT_EQ(QbCertStoreListings(), before + 2);
}

TEST_F(RememberedListing, SessionClosedAndReopenedListsAgain) {
  const std::vector<Bytes> before = ListedNow();
  ASSERT_FALSE(before.empty());
  // The remembered listing holds certificates; closing must let go of them before NSS shuts down.
  SetLastError(0);
  EXPECT_TRUE(QbCryptCloseSession());
  const LONG listings = QbCertStoreListings();
  EXPECT_EQ(ListedNow(), before);
  EXPECT_EQ(QbCertStoreListings(), listings + 1);
}

TEST_F(RememberedListing, AnotherDatabaseAfterReopeningShowsItsOwnCertificates) {
  ASSERT_EQ(ListedNow().size(), std::size(fixture::kWithKeys));
  NssDatabase other = NssDatabase::Create();
  other.AddCertificate({"other", "CN=Other Holder,O=Example,C=SI", "", 33});
  ASSERT_TRUE(QbCryptCloseSession());
  UseDatabase(other);
  const std::vector<Bytes> listed = ListedNow();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0], DerOf(other, "other"));
  EXPECT_TRUE(QbCryptCloseSession());
}

TEST_F(RememberedListing, CertificatesOfAClosedStoreStayUsableAndCountsBalance) {
  Store first = OpenPersonal();
  ASSERT_TRUE(first);
  PCCERT_CONTEXT kept = CertEnumCertificatesInStore(first.get(), nullptr);
  ASSERT_NE(kept, nullptr);
  const Bytes encoded = EncodedOf(kept);
  Store second = OpenPersonal();  // from the remembered listing
  ASSERT_TRUE(second);
  PCCERT_CONTEXT other = CertEnumCertificatesInStore(second.get(), nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(EncodedOf(other), encoded);
  CertFreeCertificateContext(other);
  second.reset();
  EXPECT_EQ(QbCertReferenceCount(kept), 2);
  EXPECT_TRUE(CertCloseStore(first.release(), 0));
  EXPECT_EQ(QbCertReferenceCount(kept), 1);
  EXPECT_EQ(EncodedOf(kept), encoded);
  EXPECT_TRUE(CertFreeCertificateContext(kept));
}

TEST_F(RememberedListing, StoresOpenedOnSeveralThreadsAtOnceAreComplete) {
  const std::vector<Bytes> expected = ListedNow();
  ASSERT_FALSE(expected.empty());
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&expected, &wrong] {
      for (int i = 0; i < 25; ++i) {
        const Store store = OpenPersonal();
        if (!store || Enumerate(store.get()) != expected) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

class PasswordListing : public RememberedListing {
 protected:
  void SetUp() override {
    RememberedListing::SetUp();
    guarded = std::make_unique<NssDatabase>(NssDatabase::Create(kPassword));
    guarded->AddCertificate({"guarded", "CN=Guarded Signer,O=Example,C=SI", "", 7});
    WriteFile(passwordDir / "password", std::string(kPassword) + "\n");
    setenv("QUILLBOX_NSS_PASSWORD_FILE", (passwordDir / "password").c_str(), 1);
    ASSERT_TRUE(QbCryptCloseSession());
    UseDatabase(*guarded);
  }
  void TearDown() override {
    unsetenv("QUILLBOX_NSS_PASSWORD_FILE");
    RememberedListing::TearDown();
  }
  static constexpr const char* kPassword = "listing";
  std::unique_ptr<NssDatabase> guarded;
  TempDir passwordDir;
};

struct SlotFree {
  void operator()(PK11SlotInfo* slot) const { PK11_FreeSlot(slot); }
};

TEST_F(PasswordListing, LoginAndLogoutEachMeanAFreshListing) {
  const std::vector<Bytes> before = ListedNow();
  ASSERT_EQ(before.size(), 1u);
  ExpectReused();
  LONG listings = QbCertStoreListings();

  const std::unique_ptr<PK11SlotInfo, SlotFree> slot(PK11_GetInternalKeySlot());
  ASSERT_TRUE(slot);
  ASSERT_EQ(PK11_Authenticate(slot.get(), PR_TRUE, nullptr), SECSuccess);
  ASSERT_TRUE(PK11_IsLoggedIn(slot.get(), nullptr));
  EXPECT_EQ(ListedNow(), before);
  EXPECT_EQ(QbCertStoreListings(), listings + 1);
  ExpectReused();
  listings = QbCertStoreListings();

  ASSERT_EQ(PK11_Logout(slot.get()), SECSuccess);
  EXPECT_EQ(ListedNow(), before);
  EXPECT_EQ(QbCertStoreListings(), listings + 1);
}

TEST_F(RememberedListing, AnotherTokenMeansAFreshListingEveryTime) {
  const std::vector<Bytes> before = ListedNow();
  ExpectReused();
  NssDatabase extra = NssDatabase::Create();
  extra.AddCertificate({"extra", "CN=Extra Token Holder,O=Example,C=SI", "", 44});
  const std::string spec = "configdir='" + extra.location() + "' tokenDescription='Quillbox Extra'";
  PK11SlotInfo* slot = SECMOD_OpenUserDB(spec.c_str());
  ASSERT_NE(slot, nullptr);

  const LONG listings = QbCertStoreListings();
  const std::vector<Bytes> first = ListedNow();
  const std::vector<Bytes> second = ListedNow();
  EXPECT_EQ(QbCertStoreListings(), listings + 2);
  EXPECT_EQ(first.size(), before.size() + 1);
  EXPECT_TRUE(Holds(first, DerOf(extra, "extra")));
  EXPECT_EQ(second, first);

  EXPECT_EQ(SECMOD_CloseUserDB(slot), SECSuccess);
  PK11_FreeSlot(slot);
  EXPECT_EQ(ListedNow(), before);
  ExpectReused();
}

}  // namespace
}  // namespace quillbox::test
