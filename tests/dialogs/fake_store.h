// An in-memory certificate store for the dialog tests, standing in for crypt32's store calls.
// The test program exports CertEnumCertificatesInStore and its companions, so the dialog module,
// loaded into the program, enumerates these certificates instead of a real database. Reference
// counts are tracked per certificate so tests can see that every reference is released.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

namespace quillbox::test {

struct FakeCertificateDescription {
  std::string subject;      // what CertNameToStrA renders, in the ANSI code page
  std::string issuer;
  std::vector<BYTE> serial;  // least significant byte first, as the store keeps it
  FILETIME notBefore{};
  FILETIME notAfter{};
  std::vector<BYTE> keyUsage;  // the keyUsage extension's DER value; empty for no extension
  std::string keyToken;        // the token that holds the private key; empty for no key
  bool keyOnDevice = false;    // that token is a card or other device
};

// A FILETIME for a UTC calendar time.
FILETIME FileTimeOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// A FILETIME `days` days from now (before now when negative), at a whole second.
FILETIME FileTimeFromNow(int days);
// The DER value of a keyUsage extension whose first byte of bits is `bits` (CERT_*_KEY_USAGE).
std::vector<BYTE> KeyUsageValue(BYTE bits);

class FakeStore {
 public:
  explicit FakeStore(const std::vector<FakeCertificateDescription>& certificates);
  FakeStore(const FakeStore&) = delete;
  FakeStore& operator=(const FakeStore&) = delete;
  ~FakeStore();

  HCERTSTORE Handle();
  PCCERT_CONTEXT At(std::size_t index) const;
  // Index of a certificate of this store, or -1.
  int IndexOf(PCCERT_CONTEXT certificate) const;
  // References held outside the store, summed over its certificates.
  long OutstandingReferences() const;
  // True once any certificate was released more often than it was handed out.
  bool OverReleased() const;
  // From the `n`-th enumeration step on (1 = the first), the enumeration fails as for a handle
  // that is not a store.
  void FailEnumerationAt(int n);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace quillbox::test
