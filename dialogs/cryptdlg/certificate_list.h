// The certificates a selection request offers: one reference to each, held for the dialog's
// lifetime, and the texts shown for it.
#pragma once

#include "picker_rows.h"

#include <windows.h>
#include <wincrypt.h>
#include <cryptdlg.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qb::cryptdlg {

struct CertificateReleaser {
  void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
using CertificateRef = std::unique_ptr<const CERT_CONTEXT, CertificateReleaser>;

class CertificateList {
 public:
  // Every certificate of every store in the request, in store order then enumeration order,
  // skipping those the request's filter rejects. Null when a store cannot be enumerated.
  static std::optional<CertificateList> Collect(const CERT_SELECT_STRUCT_A& request);

  const std::vector<CertificateRow>& Rows() const { return rows_; }
  // The row to select at first: the certificate the caller gave in advance when the stores hold
  // it, else the one PreferredRow suggests.
  std::size_t InitialRow() const { return initialRow_; }
  // A new reference to the certificate of `row`, which the caller owns.
  PCCERT_CONTEXT Take(std::size_t row) const;

 private:
  std::vector<CertificateRef> certificates_;
  std::vector<CertificateRow> rows_;
  std::size_t initialRow_ = 0;
};

}  // namespace qb::cryptdlg
