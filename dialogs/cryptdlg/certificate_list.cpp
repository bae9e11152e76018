#include "certificate_list.h"

#include <cstring>

namespace qb::cryptdlg {
namespace {

// The enumeration ends with null either way; these last errors say the store itself was
// unusable rather than exhausted.
bool EnumerationFailed(DWORD error) {
  return error == static_cast<DWORD>(ERROR_INVALID_HANDLE) || error == static_cast<DWORD>(ERROR_INVALID_PARAMETER) ||
         error == static_cast<DWORD>(E_INVALIDARG) || error == static_cast<DWORD>(E_HANDLE);
}

bool SameCertificate(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
  if (a == b) return true;
  if (a == nullptr || b == nullptr || a->pbCertEncoded == nullptr || b->pbCertEncoded == nullptr) return false;
  return a->cbCertEncoded == b->cbCertEncoded && std::memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

}  // namespace

std::optional<CertificateList> CertificateList::Collect(const CERT_SELECT_STRUCT_A& request) {
  CertificateList list;
  const FILETIME now = CurrentTime();
  std::optional<std::size_t> given;
  const PCCERT_CONTEXT preselected =
      request.cCertContext > 0 && request.arrayCertContext != nullptr ? request.arrayCertContext[0] : nullptr;
  for (DWORD s = 0; s < request.cCertStore; ++s) {
    HCERTSTORE store = request.arrayCertStore[s];
    if (store == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return std::nullopt;
    }
    PCCERT_CONTEXT current = nullptr;
    for (;;) {
      SetLastError(ERROR_SUCCESS);
      // The enumeration releases `current`, so the list keeps a duplicate of each certificate.
      current = CertEnumCertificatesInStore(store, current);
      if (current == nullptr) {
        if (EnumerationFailed(GetLastError())) return std::nullopt;
        break;
      }
      if (request.pfnFilter != nullptr && !request.pfnFilter(current, request.lCustData, 0, 0)) continue;
      CertificateRef kept(CertDuplicateCertificateContext(current));
      if (!kept) {
        CertFreeCertificateContext(current);
        return std::nullopt;
      }
      if (preselected != nullptr && !given && SameCertificate(kept.get(), preselected)) given = list.rows_.size();
      list.rows_.push_back(RowFor(kept.get(), now));
      list.certificates_.push_back(std::move(kept));
    }
  }
  list.initialRow_ = given ? *given : PreferredRow(list.rows_);
  return list;
}

PCCERT_CONTEXT CertificateList::Take(std::size_t row) const {
  if (row >= certificates_.size()) return nullptr;
  return CertDuplicateCertificateContext(certificates_[row].get());
}

}  // namespace qb::cryptdlg
