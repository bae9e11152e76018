// Finding the signer by issuer and serial (CertFindOption 0) in a large personal store, against
// NSS listing the same store. The match is the last certificate the store enumerates, so the
// lookup walks every certificate. QB_BENCH_STORE_SIZE labels the store the program runs on
// (QUILLBOX_NSS_DB, sql:DIR).
//
// The platform remembers the store's listing while the database is unchanged, so a lookup after
// the first is the remembered listing turned into certificate contexts, and the walk. The lookup
// after a change pays NSS's listing again, as the first lookup in a process does.
#include "bench/bench_support.h"
#include "certs/cert_handles.h"
#include "certs/certificate_query.h"
#include "certs/text_forms.h"
#include "common/bstr.h"

#include <wincrypt.h>

#include <cert.h>
#include <pk11pub.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace quillbox::bench {
namespace {

// A lookup by issuer and serial texts that name the store's last certificate.
class LastCertificateSearch {
 public:
  LastCertificateSearch() {
    const UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
    if (!store) throw std::runtime_error("cannot open the store");
    PCCERT_CONTEXT current = nullptr;
    PCCERT_CONTEXT last = nullptr;
    while ((current = CertEnumCertificatesInStore(store.get(), current)) != nullptr) {
      if (last != nullptr) CertFreeCertificateContext(last);
      last = CertDuplicateCertificateContext(current);
      ++count_;
    }
    if (last == nullptr) throw std::runtime_error("the store is empty");
    issuer_.reset(IssuerNameText(last));
    serial_.reset(SerialNumberText(last));
    query_.findOption = FindByIssuerSerial;
    query_.issuerName = issuer_.get();
    query_.serial = serial_.get();
    expected_.reset(last);
  }

  // The whole lookup as Sign makes it: open the store, find, release.
  bool FindsIt() {
    const UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
    return store && FindsItIn(store.get());
  }
  // Only the walk over an open store, building the issuer (and on a match the serial) texts.
  bool FindsItIn(HCERTSTORE store) {
    Result<UniqueCertContext> result = FindCertificate(store, query_);
    if (!result) return false;
    const UniqueCertContext found = std::move(result).value();
    return found->cbCertEncoded == expected_->cbCertEncoded &&
           std::equal(found->pbCertEncoded, found->pbCertEncoded + found->cbCertEncoded, expected_->pbCertEncoded);
  }
  int count() const { return count_; }

 private:
  UniqueBstr issuer_;
  UniqueBstr serial_;
  CertificateQuery query_;
  UniqueCertContext expected_;
  int count_ = 0;
};

void QuillboxLookup(benchmark::State& state, LastCertificateSearch* search) {
  for (auto _ : state) {
    if (!search->FindsIt()) {
      state.SkipWithError("the lookup did not find the last certificate");
      return;
    }
  }
  state.counters["certificates"] = search->count();
}

void QuillboxFindInOpenStore(benchmark::State& state, LastCertificateSearch* search) {
  const UniqueCertStore store(CertOpenSystemStoreA(0, "MY"));
  for (auto _ : state) {
    if (!store || !search->FindsItIn(store.get())) {
      state.SkipWithError("the lookup did not find the last certificate");
      return;
    }
  }
}

// Marking the database directory modified (outside the timed part) is the cheapest change that
// makes the next open list the store from NSS again.
void QuillboxLookupAfterChange(benchmark::State& state, LastCertificateSearch* search, const std::string& directory) {
  for (auto _ : state) {
    state.PauseTiming();
    if (utimensat(AT_FDCWD, directory.c_str(), nullptr, 0) != 0) {
      state.SkipWithError("cannot mark the database modified");
      return;
    }
    state.ResumeTiming();
    if (!search->FindsIt()) {
      state.SkipWithError("the lookup did not find the last certificate");
      return;
    }
  }
}

void NssListing(benchmark::State& state) {
  long listed = 0;
  for (auto _ : state) {
    CERTCertList* list = PK11_ListCerts(PK11CertListUser, nullptr);
    listed = 0;
    for (CERTCertListNode* node = CERT_LIST_HEAD(list); !CERT_LIST_END(node, list); node = CERT_LIST_NEXT(node))
      ++listed;
    CERT_DestroyCertList(list);
  }
  state.counters["certificates"] = static_cast<double>(listed);
}

int Run(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  LastCertificateSearch search;  // opens the platform's NSS session, which the listing shares
  const std::string size = RequiredEnv("QB_BENCH_STORE_SIZE");
  if (std::to_string(search.count()) != size) throw std::runtime_error("the store holds " + std::to_string(search.count()));
  benchmark::RegisterBenchmark(("Lookup/quillbox/" + size).c_str(), QuillboxLookup, &search)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("Lookup/quillbox-open-store/" + size).c_str(), QuillboxFindInOpenStore, &search)
      ->Unit(benchmark::kMillisecond);
  // After the remembered lookups: from here the database looks freshly written, so nothing is
  // remembered any more, and NSS's own listing runs without the platform's references keeping its
  // certificate objects alive (which would spare it most of the work).
  const std::string location = RequiredEnv("QUILLBOX_NSS_DB");
  if (!location.starts_with("sql:")) throw std::runtime_error("QUILLBOX_NSS_DB is not sql:DIR");
  benchmark::RegisterBenchmark(("Lookup/quillbox-after-change/" + size).c_str(), QuillboxLookupAfterChange, &search,
                               location.substr(4))
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("Lookup/nss-listing/" + size).c_str(), NssListing)->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace
}  // namespace quillbox::bench

int main(int argc, char** argv) {
  try {
    return quillbox::bench::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillbox-bench-lookup: %s\n", e.what());
    return 2;
  }
}
