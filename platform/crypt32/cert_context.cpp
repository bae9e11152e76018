// Certificate contexts: built from an NSS certificate in the Windows layout, counted, released.
#include "objects.h"

#include <qbcrypt.h>

#include <cert.h>
#include <prprf.h>
#include <secder.h>

#include <algorithm>
#include <memory>
#include <type_traits>

namespace qb::platform {
namespace {

static_assert(std::is_standard_layout_v<CertContext>, "a PCCERT_CONTEXT must convert back to its CertContext");

std::atomic<long> gFailDuplicateAt{0};

std::vector<BYTE> Bytes(const SECItem& item) {
  if (item.data == nullptr || item.len == 0) return {};
  return std::vector<BYTE>(item.data, item.data + item.len);
}

// NSS keeps bit strings with their length in bits.
std::vector<BYTE> BitStringBytes(const SECItem& bits, DWORD& unusedBits) {
  const unsigned int bytes = (bits.len + 7) / 8;
  unusedBits = (8 - bits.len % 8) % 8;
  if (bits.data == nullptr || bytes == 0) return {};
  return std::vector<BYTE>(bits.data, bits.data + bytes);
}

std::string Dotted(const SECItem& oid) {
  std::unique_ptr<char, decltype(&PR_smprintf_free)> text(CERT_GetOidString(&oid), &PR_smprintf_free);
  if (!text) return {};
  std::string dotted = text.get();
  if (dotted.starts_with("OID.")) dotted.erase(0, 4);
  return dotted;
}

BYTE* DataOf(std::vector<BYTE>& bytes) { return bytes.empty() ? nullptr : bytes.data(); }

// PRTime counts microseconds from 1970; FILETIME counts 100-nanosecond steps from 1601.
FILETIME ToFileTime(PRTime time) {
  constexpr std::int64_t kEpochDifference = 116444736000000000LL;
  const auto ticks = static_cast<std::uint64_t>(time * 10 + kEpochDifference);
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

void FillInfo(CertContext& c, CERTCertificate* cert) {
  CERT_INFO& info = c.info;
  info.dwVersion = cert->version.len > 0 ? static_cast<DWORD>(DER_GetInteger(&cert->version)) : 0;

  // crypt32 keeps the serial's content octets least significant first, the sign byte included.
  c.serialLittleEndian = Bytes(cert->serialNumber);
  std::reverse(c.serialLittleEndian.begin(), c.serialLittleEndian.end());
  info.SerialNumber = {static_cast<DWORD>(c.serialLittleEndian.size()), DataOf(c.serialLittleEndian)};

  c.signatureOid = Dotted(cert->signature.algorithm);
  c.signatureParameters = Bytes(cert->signature.parameters);
  info.SignatureAlgorithm = {c.signatureOid.data(),
                             {static_cast<DWORD>(c.signatureParameters.size()), DataOf(c.signatureParameters)}};

  c.issuer = Bytes(cert->derIssuer);
  info.Issuer = {static_cast<DWORD>(c.issuer.size()), DataOf(c.issuer)};
  c.subject = Bytes(cert->derSubject);
  info.Subject = {static_cast<DWORD>(c.subject.size()), DataOf(c.subject)};

  PRTime notBefore = 0;
  PRTime notAfter = 0;
  if (CERT_GetCertTimes(cert, &notBefore, &notAfter) == SECSuccess) {
    info.NotBefore = ToFileTime(notBefore);
    info.NotAfter = ToFileTime(notAfter);
  }

  c.keyOid = Dotted(cert->subjectPublicKeyInfo.algorithm.algorithm);
  c.keyParameters = Bytes(cert->subjectPublicKeyInfo.algorithm.parameters);
  DWORD unused = 0;
  c.publicKey = BitStringBytes(cert->subjectPublicKeyInfo.subjectPublicKey, unused);
  info.SubjectPublicKeyInfo = {
      {c.keyOid.data(), {static_cast<DWORD>(c.keyParameters.size()), DataOf(c.keyParameters)}},
      {static_cast<DWORD>(c.publicKey.size()), DataOf(c.publicKey), unused}};

  c.issuerUniqueId = BitStringBytes(cert->issuerID, unused);
  info.IssuerUniqueId = {static_cast<DWORD>(c.issuerUniqueId.size()), DataOf(c.issuerUniqueId), unused};
  c.subjectUniqueId = BitStringBytes(cert->subjectID, unused);
  info.SubjectUniqueId = {static_cast<DWORD>(c.subjectUniqueId.size()), DataOf(c.subjectUniqueId), unused};

  for (CERTCertExtension** ext = cert->extensions; ext != nullptr && *ext != nullptr; ++ext) {
    c.extensionOids.push_back(Dotted((*ext)->id));
    c.extensionValues.push_back(Bytes((*ext)->value));
  }
  std::size_t i = 0;
  for (CERTCertExtension** ext = cert->extensions; ext != nullptr && *ext != nullptr; ++ext, ++i) {
    const bool critical = (*ext)->critical.len > 0 && (*ext)->critical.data[0] != 0;
    c.extensions.push_back(CERT_EXTENSION{c.extensionOids[i].data(), critical ? TRUE : FALSE,
                                          {static_cast<DWORD>(c.extensionValues[i].size()),
                                           DataOf(c.extensionValues[i])}});
  }
  info.cExtension = static_cast<DWORD>(c.extensions.size());
  info.rgExtension = c.extensions.empty() ? nullptr : c.extensions.data();
}

std::u16string SearchTextOf(const std::vector<BYTE>& name) {
  const auto decoded = DecodeName(name.empty() ? nullptr : name.data(), static_cast<DWORD>(name.size()));
  return UpperCased(decoded ? SimpleNameForSearch(*decoded) : std::u16string());
}

}  // namespace

CertContext* ContextFrom(PCCERT_CONTEXT certificate) {
  if (certificate == nullptr) return nullptr;
  auto* context = reinterpret_cast<CertContext*>(const_cast<CERT_CONTEXT*>(certificate));
  return context->magic == kContextMagic ? context : nullptr;
}

CertContext* MakeContext(CERTCertificate* certificate, CertStore* store, std::size_t index) {
  auto context = std::make_unique<CertContext>();
  context->magic = kContextMagic;
  context->store = store;
  context->index = index;
  context->encoded = Bytes(certificate->derCert);
  FillInfo(*context, certificate);
  context->subjectSearchText = SearchTextOf(context->subject);
  context->issuerSearchText = SearchTextOf(context->issuer);
  context->context.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  context->context.pbCertEncoded = DataOf(context->encoded);
  context->context.cbCertEncoded = static_cast<DWORD>(context->encoded.size());
  context->context.pCertInfo = &context->info;
  context->context.hCertStore = store;
  // Taken once nothing can throw any more: the context's deleter does not give NSS its reference.
  context->nss = CERT_DupCertificate(certificate);
  if (store != nullptr) store->references.fetch_add(1);
  return context.release();
}

void ReleaseContext(CertContext* context) {
  if (context->references.fetch_sub(1) != 1) return;
  CertStore* store = context->store;
  CERT_DestroyCertificate(context->nss);
  context->magic = 0;
  delete context;
  if (store != nullptr) ReleaseStore(store);
}

}  // namespace qb::platform

using namespace qb::platform;

extern "C" {

PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT certificate) {
  CertContext* context = ContextFrom(certificate);
  if (context == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  long failAt = gFailDuplicateAt.load();
  while (failAt > 0 && !gFailDuplicateAt.compare_exchange_weak(failAt, failAt - 1)) {
  }
  if (failAt == 1) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  context->references.fetch_add(1);
  return certificate;
}

BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT certificate) {
  if (certificate == nullptr) return TRUE;
  CertContext* context = ContextFrom(certificate);
  if (context == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ReleaseContext(context);
  return TRUE;
}

LONG WINAPI QbCertReferenceCount(PCCERT_CONTEXT certificate) {
  CertContext* context = ContextFrom(certificate);
  return context != nullptr ? static_cast<LONG>(context->references.load()) : 0;
}

void WINAPI QbCertFailDuplicateAt(LONG n) { gFailDuplicateAt.store(n > 0 ? n : 0); }

}  // extern "C"
