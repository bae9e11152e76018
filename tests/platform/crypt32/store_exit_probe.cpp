// Opens the personal store, counts it onto buffered standard output and returns from main without
// closing the NSS session: what any program using the platform may do.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

int main() {
  HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
  if (store == nullptr) return 3;
  int count = 0;
  for (PCCERT_CONTEXT certificate = CertEnumCertificatesInStore(store, nullptr); certificate != nullptr;
       certificate = CertEnumCertificatesInStore(store, certificate)) {
    ++count;
  }
  CertCloseStore(store, 0);
  std::printf("certificates: %d\n", count);
  return 0;
}
