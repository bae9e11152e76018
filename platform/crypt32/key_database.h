// The key database (key4.db) of an NSS SQL database, as the file system shows it before NSS opens
// it. NSS opens the personal store read-write, and a missing or empty key4.db is then made anew
// (with no password and no keys), so afterwards the token only says that it needs a password it
// never had; what was wrong is known only from a look taken before.
#pragma once

#include <qbcrypt.h>

#include <string>

namespace qb::platform::nss {

// The path of the key database of an SQL database directory.
std::string KeyDatabasePath(const std::string& directory);

// What the file system shows of `directory`'s key database: missing, empty (no bytes),
// unreadable (no read permission; with `readHeader`, also a file that is not an SQLite
// database), else fine. `readHeader` opens the file and so must only be given while NSS holds
// none of the session's files open: closing a descriptor drops every POSIX lock the process holds
// on the file, SQLite's inside NSS included.
QB_KEY_DATABASE_STATE KeyDatabaseFileState(const std::string& directory, bool readHeader);

}  // namespace qb::platform::nss
