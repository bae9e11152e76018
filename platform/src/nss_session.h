// The process's one NSS session, shared by the certificate store and the crypto back end.
#pragma once

#include <windows.h>

#include <string>

namespace qb::platform::nss {

enum class SessionKind { None, Database, CryptoOnly };

// Opens the session if none is open: the user's database when it exists, otherwise (only when
// `allowCryptoOnly`) NSS without a database. Returns the kind that is open afterwards.
SessionKind OpenSession(bool allowCryptoOnly);
SessionKind CurrentSession();

// The database location as NSS names it ("sql:/home/u/.pki/nssdb"), from QUILLBOX_NSS_DB or the
// browsers' default.
std::string DatabaseLocation();

}  // namespace qb::platform::nss
