#include "picker_rows.h"

#include "display_text.h"
#include "name_parts.h"

#include <qbcrypt.h>

#include <array>
#include <ctime>
#include <tuple>

namespace qb::cryptdlg {
namespace {

std::uint64_t Ticks(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// Validity bounds are inclusive (RFC 5280 4.1.2.5).
Validity ValidityAt(const CERT_INFO& info, const FILETIME& now) {
  if (Ticks(now) < Ticks(info.NotBefore)) return Validity::kNotYetValid;
  if (Ticks(now) > Ticks(info.NotAfter)) return Validity::kExpired;
  return Validity::kValid;
}

// A document signature is a digital signature, and for a qualified (non-repudiation) certificate
// it is exactly what the key is for; other restricted keys (encipherment, key agreement,
// certificate signing) are not meant for documents.
bool SigningAllowed(PCCERT_CONTEXT certificate) {
  std::array<BYTE, 2> usage{};
  if (!CertGetIntendedKeyUsage(certificate->dwCertEncodingType, certificate->pCertInfo, usage.data(),
                               static_cast<DWORD>(usage.size())))
    return true;  // no keyUsage extension: any use is allowed (or one we cannot read: not ours to refuse)
  return (usage[0] & (CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_NON_REPUDIATION_KEY_USAGE)) != 0;
}

void FindKey(PCCERT_CONTEXT certificate, CertificateRow& row) {
  char token[256] = {};
  BOOL hardware = FALSE;
  if (!QbCertKeyLocation(certificate, token, sizeof token, &hardware)) return;
  row.keyPlace = hardware ? KeyPlace::kDevice : KeyPlace::kSoftware;
  row.tokenName = ValidUtf8(token);
}

}  // namespace

CertificateRow RowFor(PCCERT_CONTEXT certificate, const FILETIME& now) {
  CertificateRow row;
  const CERT_INFO* info = certificate->pCertInfo;
  if (info == nullptr) return row;
  row.subject = NameText(certificate, info->Subject);
  row.issuer = NameText(certificate, info->Issuer);
  row.serial = SerialText(info->SerialNumber);
  row.notBefore = info->NotBefore;
  row.notAfter = info->NotAfter;
  row.holder = FirstAttribute(row.subject, {"CN", "G", "SN", "OU", "O", "E"});
  if (row.holder.empty()) row.holder = row.subject;
  row.issuerName = FirstAttribute(row.issuer, {"CN", "O", "OU"});
  if (row.issuerName.empty()) row.issuerName = row.issuer;
  row.validity = ValidityAt(*info, now);
  row.signingAllowed = SigningAllowed(certificate);
  FindKey(certificate, row);
  return row;
}

std::size_t PreferredRow(const std::vector<CertificateRow>& rows) {
  // Ranked by what makes a certificate usable for signing now; the first of the best rank wins.
  const auto rank = [](const CertificateRow& row) {
    const bool valid = row.validity == Validity::kValid;
    return std::make_tuple(valid && row.signingAllowed && row.keyPlace != KeyPlace::kNone,
                           valid && row.signingAllowed, valid);
  };
  std::size_t best = 0;
  for (std::size_t i = 1; i < rows.size(); ++i)
    if (rank(rows[i]) > rank(rows[best])) best = i;
  return best;
}

FILETIME CurrentTime() {
  constexpr std::uint64_t kSecondsFrom1601To1970 = 11'644'473'600ULL;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.tv_sec) + kSecondsFrom1601To1970) * 10'000'000ULL +
                              static_cast<std::uint64_t>(now.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace qb::cryptdlg
