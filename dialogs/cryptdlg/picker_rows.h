// What the picker shows about one certificate, read from its context: who holds it, who issued
// it, whether it is valid now, whether its key may sign, and where the key is.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <optional>
#include <string>
#include <vector>

namespace qb::cryptdlg {

enum class Validity { kValid, kNotYetValid, kExpired };
enum class KeyPlace { kNone, kSoftware, kDevice };

struct CertificateRow {
  std::string holder;      // the subject's common name (or its organisation...), all UTF-8
  std::string issuerName;  // the issuer's common name or organisation
  std::string subject;     // the full names in the form the component compares
  std::string issuer;
  std::string serial;      // as the component writes it
  FILETIME notBefore{};
  FILETIME notAfter{};
  Validity validity = Validity::kValid;
  bool signingAllowed = true;  // the key usage, if restricted, allows signatures
  KeyPlace keyPlace = KeyPlace::kNone;
  std::string tokenName;   // the token that holds the key, when there is one
};

// The row for `certificate`, judged at `now`.
CertificateRow RowFor(PCCERT_CONTEXT certificate, const FILETIME& now);

// The row to offer first when the caller named none: the first, in the order given, that is
// valid now, may sign and has its key here; failing that the first that is valid and may sign,
// then the first valid one, then the first row.
std::size_t PreferredRow(const std::vector<CertificateRow>& rows);

FILETIME CurrentTime();

}  // namespace qb::cryptdlg
