// The process's one NSS session, shared by the certificate store and the crypto back end.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace qb::platform::nss {

enum class SessionKind { None, Database, CryptoOnly };

// Opens the session if none is open: the user's database when it exists, otherwise (only when
// `allowCryptoOnly`) NSS without a database. Returns the kind that is open afterwards.
SessionKind OpenSession(bool allowCryptoOnly);
SessionKind CurrentSession();

// Holds the session as it stands, for reading NSS objects and keeping them between calls: a close
// waits until every hold has ended, so whatever a holder keeps was made by the session it saw.
class SessionHold {
 public:
  SessionHold();
  SessionKind kind() const { return kind_; }
  // Counts the sessions of the process: a session opened after a close has a higher number.
  std::uint64_t generation() const { return generation_; }
  // The directory of the SQLite database the session opened; empty for any other kind.
  const std::string& sqlDirectory() const { return sqlDirectory_; }

 private:
  std::shared_lock<std::shared_mutex> use_;
  SessionKind kind_ = SessionKind::None;
  std::uint64_t generation_ = 0;
  std::string sqlDirectory_;
};

// The database location as NSS names it ("sql:/home/u/.pki/nssdb"), from QUILLBOX_NSS_DB or the
// browsers' default.
std::string DatabaseLocation();

}  // namespace qb::platform::nss
