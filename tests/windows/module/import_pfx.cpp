// Puts the certificates of a PKCS #12 file, with their private keys, into the user's "MY" store,
// as a user who installs a signing certificate does: the module's Sign finds them there under
// Wine. Used by tests/windows/module_run.sh in its own prefix only.
//   import_pfx.exe FILE PASSWORD
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using UniqueStore = std::unique_ptr<void, StoreCloser>;

struct ProviderReleaser {
  void operator()(HCRYPTPROV* provider) const {
    CryptReleaseContext(*provider, 0);
    delete provider;
  }
};

// Wine's PFXImportCertStore records the key as both kinds at once (a key spec of 3), which no
// provider accepts when the key is asked for: the record is set to the kind the container holds.
bool FixKeySpec(PCCERT_CONTEXT cert) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return false;
  std::vector<BYTE> bytes(size);
  if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, bytes.data(), &size)) return false;
  auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(bytes.data());
  if (info->dwKeySpec == AT_KEYEXCHANGE || info->dwKeySpec == AT_SIGNATURE) return true;
  HCRYPTPROV handle = 0;
  if (!CryptAcquireContextW(&handle, info->pwszContainerName, info->pwszProvName, info->dwProvType,
                            info->dwFlags & CRYPT_MACHINE_KEYSET))
    return false;
  std::unique_ptr<HCRYPTPROV, ProviderReleaser> provider(new HCRYPTPROV(handle));
  for (DWORD spec : {static_cast<DWORD>(AT_KEYEXCHANGE), static_cast<DWORD>(AT_SIGNATURE)}) {
    HCRYPTKEY key = 0;
    if (CryptGetUserKey(*provider, spec, &key)) {
      CryptDestroyKey(key);
      info->dwKeySpec = spec;
      return CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, info) != FALSE;
    }
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: import_pfx FILE PASSWORD\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) {
    std::fprintf(stderr, "import_pfx: cannot read the file\n");
    return 1;
  }
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), bytes.data()};
  UniqueStore pfx(PFXImportCertStore(&blob, argv[2], 0));
  if (!pfx) {
    std::fprintf(stderr, "import_pfx: PFXImportCertStore failed: 0x%08lx\n", GetLastError());
    return 1;
  }
  UniqueStore my(CertOpenSystemStoreW(0, L"MY"));
  if (!my) {
    std::fprintf(stderr, "import_pfx: cannot open the MY store: 0x%08lx\n", GetLastError());
    return 1;
  }
  int added = 0;
  for (PCCERT_CONTEXT cert = nullptr; (cert = CertEnumCertificatesInStore(pfx.get(), cert)) != nullptr;) {
    if (!FixKeySpec(cert)) {
      std::fprintf(stderr, "import_pfx: the certificate's private key cannot be found: 0x%08lx\n", GetLastError());
      CertFreeCertificateContext(cert);
      return 1;
    }
    if (!CertAddCertificateContextToStore(my.get(), cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      std::fprintf(stderr, "import_pfx: CertAddCertificateContextToStore failed: 0x%08lx\n", GetLastError());
      CertFreeCertificateContext(cert);
      return 1;
    }
    ++added;
  }
  std::printf("import_pfx: %d certificate(s) in MY\n", added);
  return added > 0 ? 0 : 1;
}
