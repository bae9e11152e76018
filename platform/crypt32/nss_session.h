// The process's one NSS session, shared by the certificate store and the crypto back end.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>

struct PK11SlotInfoStr;

namespace qb::platform::nss {

enum class SessionKind { None, Database, CryptoOnly };

// Opens the session if none is open: the user's databases that exist (the first as NSS's own
// database, the others added as further user databases), otherwise (only when `allowCryptoOnly`)
// NSS without a database. Returns the kind that is open afterwards.
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
  // The directory of the SQLite database the session opened first; empty for any other kind.
  const std::string& sqlDirectory() const { return sqlDirectory_; }

 private:
  std::shared_lock<std::shared_mutex> use_;
  SessionKind kind_ = SessionKind::None;
  std::uint64_t generation_ = 0;
  std::string sqlDirectory_;
};

// The database of the open session that a software token belongs to, or nothing for another
// token (a card, NSS's crypto-only slot).
struct SlotDatabase {
  std::string label;     // "Chromium", "Firefox", "QUILLBOX_NSS_DB"
  std::string location;  // "sql:/home/u/.pki/nssdb"
};
std::optional<SlotDatabase> DatabaseOf(PK11SlotInfoStr* slot);

// Registers `release`, which lets go of NSS objects a part keeps between calls, to run on every
// close before NSS shuts down (NSS refuses to shut down while its objects are in use). The part
// registers before it keeps anything; registering the same function again does nothing. A close
// calls it with no session hold left, so it must not take one.
void ReleaseBeforeClose(void (*release)());
std::string DatabaseOfSlot(PK11SlotInfoStr* slot);  // its location, or ""

}  // namespace qb::platform::nss
