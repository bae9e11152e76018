#include "dialogs/fake_store.h"

#include <qbcrypt.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>

namespace quillbox::test {

struct FakeCertificate {
  CERT_CONTEXT context{};
  CERT_INFO info{};
  std::string keyUsageOid = szOID_KEY_USAGE;
  CERT_EXTENSION keyUsage{};
  FakeCertificateDescription description;
  std::vector<BYTE> encoded;
  long references = 1;  // the store's own
  bool overReleased = false;
};

struct FakeStore::State {
  std::vector<std::unique_ptr<FakeCertificate>> certificates;
  int failAt = 0;
  int steps = 0;
};

namespace {

std::map<const void*, FakeStore::State*>& Stores() {
  static std::map<const void*, FakeStore::State*> stores;
  return stores;
}

std::map<PCCERT_CONTEXT, FakeCertificate*>& Certificates() {
  static std::map<PCCERT_CONTEXT, FakeCertificate*> certificates;
  return certificates;
}

FakeCertificate* Lookup(PCCERT_CONTEXT context) {
  const auto found = Certificates().find(context);
  return found == Certificates().end() ? nullptr : found->second;
}

CERT_NAME_BLOB BlobOf(std::string& text) {
  return CERT_NAME_BLOB{static_cast<DWORD>(text.size()), reinterpret_cast<BYTE*>(text.data())};
}

}  // namespace

FILETIME FileTimeOf(int year, int month, int day, int hour, int minute, int second) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  const std::uint64_t ticks = (static_cast<std::uint64_t>(timegm(&parts)) + 11'644'473'600ULL) * 10'000'000ULL;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

FILETIME FileTimeFromNow(int days) {
  const auto seconds = static_cast<std::uint64_t>(std::time(nullptr) + std::int64_t{days} * 86'400);
  const std::uint64_t ticks = (seconds + 11'644'473'600ULL) * 10'000'000ULL;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

std::vector<BYTE> KeyUsageValue(BYTE bits) {
  // BIT STRING: the count of unused bits in the last byte, then the byte (DER drops trailing zeros).
  BYTE unused = 0;
  while (unused < 7 && (bits & (1u << unused)) == 0) ++unused;
  return {0x03, 0x02, bits == 0 ? BYTE{0} : unused, bits};
}

FakeStore::FakeStore(const std::vector<FakeCertificateDescription>& certificates) : state_(std::make_unique<State>()) {
  for (const FakeCertificateDescription& description : certificates) {
    auto certificate = std::make_unique<FakeCertificate>();
    certificate->description = description;
    certificate->encoded.assign(description.subject.begin(), description.subject.end());
    certificate->encoded.insert(certificate->encoded.end(), description.serial.begin(), description.serial.end());
    certificate->info.Subject = BlobOf(certificate->description.subject);
    certificate->info.Issuer = BlobOf(certificate->description.issuer);
    certificate->info.SerialNumber = CRYPT_INTEGER_BLOB{static_cast<DWORD>(certificate->description.serial.size()),
                                                        certificate->description.serial.data()};
    certificate->info.NotBefore = description.notBefore;
    certificate->info.NotAfter = description.notAfter;
    if (!certificate->description.keyUsage.empty()) {
      certificate->keyUsage = CERT_EXTENSION{certificate->keyUsageOid.data(), TRUE,
                                             {static_cast<DWORD>(certificate->description.keyUsage.size()),
                                              certificate->description.keyUsage.data()}};
      certificate->info.cExtension = 1;
      certificate->info.rgExtension = &certificate->keyUsage;
    }
    certificate->context.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    certificate->context.pbCertEncoded = certificate->encoded.data();
    certificate->context.cbCertEncoded = static_cast<DWORD>(certificate->encoded.size());
    certificate->context.pCertInfo = &certificate->info;
    certificate->context.hCertStore = this;
    Certificates()[&certificate->context] = certificate.get();
    state_->certificates.push_back(std::move(certificate));
  }
  Stores()[this] = state_.get();
}

FakeStore::~FakeStore() {
  Stores().erase(this);
  for (const auto& certificate : state_->certificates) Certificates().erase(&certificate->context);
}

HCERTSTORE FakeStore::Handle() { return this; }

PCCERT_CONTEXT FakeStore::At(std::size_t index) const { return &state_->certificates.at(index)->context; }

int FakeStore::IndexOf(PCCERT_CONTEXT certificate) const {
  for (std::size_t i = 0; i < state_->certificates.size(); ++i)
    if (&state_->certificates[i]->context == certificate) return static_cast<int>(i);
  return -1;
}

long FakeStore::OutstandingReferences() const {
  long total = 0;
  for (const auto& certificate : state_->certificates) total += certificate->references - 1;
  return total;
}

bool FakeStore::OverReleased() const {
  for (const auto& certificate : state_->certificates)
    if (certificate->overReleased) return true;
  return false;
}

void FakeStore::FailEnumerationAt(int n) {
  state_->failAt = n;
  state_->steps = 0;
}

}  // namespace quillbox::test

using quillbox::test::FakeCertificate;
using quillbox::test::FakeStore;

// The store calls the dialog module makes, resolved from this program at load time.
extern "C" {

PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT certificate) {
  FakeCertificate* fake = quillbox::test::Lookup(certificate);
  if (fake == nullptr) return nullptr;
  ++fake->references;
  return certificate;
}

BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT certificate) {
  FakeCertificate* fake = quillbox::test::Lookup(certificate);
  if (fake == nullptr) return TRUE;
  if (fake->references <= 1) {
    fake->overReleased = true;
    return TRUE;
  }
  --fake->references;
  return TRUE;
}

PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE handle, PCCERT_CONTEXT previous) {
  const auto found = quillbox::test::Stores().find(handle);
  if (found == quillbox::test::Stores().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  FakeStore::State& store = *found->second;
  std::size_t next = 0;
  if (previous != nullptr) {
    for (std::size_t i = 0; i < store.certificates.size(); ++i)
      if (&store.certificates[i]->context == previous) next = i + 1;
    CertFreeCertificateContext(previous);
  }
  if (store.failAt > 0 && ++store.steps >= store.failAt) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (next >= store.certificates.size()) {
    SetLastError(static_cast<DWORD>(QB_HR(0x80092004)));  // CRYPT_E_NOT_FOUND: the end
    return nullptr;
  }
  ++store.certificates[next]->references;
  return &store.certificates[next]->context;
}

DWORD WINAPI CertNameToStrA(DWORD, PCERT_NAME_BLOB name, DWORD strType, LPSTR text, DWORD size) {
  // Only the form the component compares is rendered; any other form shows up as a wrong text.
  const std::string rendered = strType == (CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG)
                                   ? std::string(reinterpret_cast<const char*>(name->pbData), name->cbData)
                                   : std::string("unexpected name form");
  const DWORD needed = static_cast<DWORD>(rendered.size() + 1);
  if (text == nullptr || size == 0) return needed;
  const DWORD copied = std::min<DWORD>(size - 1, static_cast<DWORD>(rendered.size()));
  std::memcpy(text, rendered.data(), copied);
  text[copied] = '\0';
  return copied + 1;
}

// The platform's answer to where a certificate's key is, as each certificate's description says.
BOOL WINAPI QbCertKeyLocation(PCCERT_CONTEXT certificate, LPSTR tokenName, DWORD size, BOOL* hardware) {
  FakeCertificate* fake = quillbox::test::Lookup(certificate);
  if (fake == nullptr || fake->description.keyToken.empty()) {
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return FALSE;
  }
  if (tokenName != nullptr && size > 0) {
    const std::size_t length = std::min<std::size_t>(fake->description.keyToken.size(), size - 1);
    std::memcpy(tokenName, fake->description.keyToken.data(), length);
    tokenName[length] = '\0';
  }
  if (hardware != nullptr) *hardware = fake->description.keyOnDevice ? TRUE : FALSE;
  return TRUE;
}

}  // extern "C"
