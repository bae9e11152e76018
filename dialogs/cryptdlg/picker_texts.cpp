#include "picker_texts.h"

#include "display_text.h"
#include "l10n.h"

#include <ctime>

namespace qb::cryptdlg {

std::string DateText(const FILETIME& time) {
  const std::optional<std::tm> parts = UtcParts(time);
  if (!parts) return {};
  // TRANSLATORS: the strftime form of a date (numbers only: month names would follow the host's
  // LC_TIME, not the user's language). Slovenian writes 15. 1. 2026.
  const std::string format = Tr(QB_N_("%Y-%m-%d"));
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, format.c_str(), &*parts);
  return std::string(text, length);
}

std::string PickerTitle(const std::string& requested) {
  return requested.empty() ? Tr(QB_N_("Select a certificate")) : requested;
}

std::string IssuerText(const CertificateRow& row) { return Tr(QB_N_("issued by %s"), row.issuerName); }

std::string ValidityText(const CertificateRow& row) {
  switch (row.validity) {
    case Validity::kExpired:
      return Tr(QB_N_("expired on %s"), DateText(row.notAfter));
    case Validity::kNotYetValid:
      return Tr(QB_N_("not valid before %s"), DateText(row.notBefore));
    case Validity::kValid:
      break;
  }
  return Tr(QB_N_("valid until %s"), DateText(row.notAfter));
}

std::string KeyText(const CertificateRow& row) {
  switch (row.keyPlace) {
    case KeyPlace::kDevice:
      return Tr(QB_N_("key on card \"%s\""), row.tokenName);
    case KeyPlace::kSoftware:
      return Tr(QB_N_("key in \"%s\""), row.tokenName);
    case KeyPlace::kNone:
      break;
  }
  return Tr(QB_N_("no private key"));
}

std::vector<std::string> Marks(const CertificateRow& row) {
  std::vector<std::string> marks;
  if (row.validity == Validity::kExpired) marks.push_back(Tr(QB_N_("Expired")));
  if (row.validity == Validity::kNotYetValid) marks.push_back(Tr(QB_N_("Not yet valid")));
  if (!row.signingAllowed) marks.push_back(Tr(QB_N_("Not for signing")));
  return marks;
}

std::vector<std::pair<std::string, std::string>> Details(const CertificateRow& row) {
  return {
      {Tr(QB_N_("Issued to")), row.subject},
      {Tr(QB_N_("Issued by")), row.issuer},
      {Tr(QB_N_("Serial number")), row.serial},
      {Tr(QB_N_("Valid from")), TimeText(row.notBefore)},
      {Tr(QB_N_("Valid to")), TimeText(row.notAfter)},
      {Tr(QB_N_("Key usage")), row.signingAllowed ? Tr(QB_N_("signing allowed"))
                                                  : Tr(QB_N_("not for signing (the key usage excludes signatures)"))},
      {Tr(QB_N_("Private key")), KeyText(row)},
  };
}

}  // namespace qb::cryptdlg
