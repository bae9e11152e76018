// The objects behind HCERTSTORE and PCCERT_CONTEXT.
//
// A store holds one reference to each of its certificates and is itself counted: its open handle
// is one reference and every certificate context that points back at it is another, so a closed
// store's memory lives until its last certificate is released. A certificate context holds one
// NSS certificate reference, which keeps the NSS session busy while the context lives.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cert_names.h"

struct CERTCertificateStr;

namespace qb::platform {

struct CertStore;

struct CertContext {
  CERT_CONTEXT context{};  // first: a PCCERT_CONTEXT is a pointer to this member
  std::uint32_t magic = 0;
  std::atomic<long> references{1};
  CertStore* store = nullptr;
  std::size_t index = 0;  // position in the store's enumeration order
  CERTCertificateStr* nss = nullptr;

  // Storage the public structure points into.
  CERT_INFO info{};
  std::vector<BYTE> encoded;
  std::vector<BYTE> serialLittleEndian;
  std::vector<BYTE> issuer;
  std::vector<BYTE> subject;
  std::string signatureOid;
  std::vector<BYTE> signatureParameters;
  std::string keyOid;
  std::vector<BYTE> keyParameters;
  std::vector<BYTE> publicKey;
  std::vector<BYTE> issuerUniqueId;
  std::vector<BYTE> subjectUniqueId;
  std::vector<std::string> extensionOids;
  std::vector<std::vector<BYTE>> extensionValues;
  std::vector<CERT_EXTENSION> extensions;

  // What a subject or issuer search compares against, upper-cased; made with the context so
  // searches from several threads only read it.
  std::u16string subjectSearchText;
  std::u16string issuerSearchText;
};

struct CertStore {
  std::uint32_t magic = 0;
  std::atomic<long> references{1};
  bool open = true;
  std::vector<CertContext*> certificates;  // one reference each while open
};

inline constexpr std::uint32_t kContextMagic = 0x51424343;  // "QBCC"
inline constexpr std::uint32_t kStoreMagic = 0x51424353;    // "QBCS"

// Upper-cases UTF-16 text with Unicode simple case mapping, as crypt32 compares names.
std::u16string UpperCased(std::u16string_view text);

// Null for null or for a pointer that is not one of ours.
CertContext* ContextFrom(PCCERT_CONTEXT certificate);
CertStore* StoreFrom(HCERTSTORE store);

// A new context (one reference) for `certificate`, which it takes a further NSS reference to.
CertContext* MakeContext(CERTCertificateStr* certificate, CertStore* store, std::size_t index);
void ReleaseContext(CertContext* context);
void ReleaseStore(CertStore* store);

}  // namespace qb::platform
