// The picker's words for a row, in the user's language (UTF-8): shared by the window and the
// terminal, so both say the same about each certificate.
#pragma once

#include "picker_rows.h"

#include <string>
#include <utility>
#include <vector>

namespace qb::cryptdlg {

// The request's title as given (the caller's own text, never translated); a title of the
// picker's own, in the user's language, when the request has none.
std::string PickerTitle(const std::string& requested);
// "issued by NAME"
std::string IssuerText(const CertificateRow& row);
// "valid until DATE", "expired on DATE" or "not valid before DATE"
std::string ValidityText(const CertificateRow& row);
// Where the private key is: on a card (by its token's name), in a software store, or nowhere.
std::string KeyText(const CertificateRow& row);
// The warnings a row carries (expired, not yet valid, not for signing); empty for none.
std::vector<std::string> Marks(const CertificateRow& row);
// Labelled lines for the details of one row: full subject, issuer, serial, validity, key usage, key.
std::vector<std::pair<std::string, std::string>> Details(const CertificateRow& row);

// A date in the user's language's short numeric form.
std::string DateText(const FILETIME& time);

}  // namespace qb::cryptdlg
