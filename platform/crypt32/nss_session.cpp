// The NSS session: opened once per process on first need, read-write so that tools in the same
// process can import into the database.
//
// Shutting NSS down finalises every PKCS#11 module it loaded (C_Finalize), which runs the module's
// own code. It must therefore happen while those modules are intact: never from a static
// destructor of this library, which runs after the statics of libraries loaded later (a module
// such as SoftHSM2, loaded by NSS while the session opened) are gone. Each open registers an exit
// handler after NSS has loaded its modules; exit handlers run in the reverse order of their
// registration, so it runs before the modules' statics are destroyed. glibc ties a handler that a
// shared library registers to that library, so when the platform library is unloaded instead, the
// handler runs at its unloading, with the modules (which NSS alone unloads) still there.
#include "nss_session.h"

#include "key_database.h"
#include "nss_passwords.h"
#include "store_locations.h"
#include "common/boundary.h"

#include <qbcrypt.h>

#include <nss.h>
#include <pk11pub.h>
#include <secerr.h>
#include <secmod.h>
#include <secport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace qb::platform::nss {
namespace {

struct SlotFree {
  void operator()(PK11SlotInfo* slot) const { PK11_FreeSlot(slot); }
};
using UniqueSlot = std::unique_ptr<PK11SlotInfo, SlotFree>;

struct UserDatabase {
  StoreLocation where;
  UniqueSlot slot;
};

struct Session {
  // Held shared while NSS objects are read for keeping, exclusively while NSS shuts down.
  std::shared_mutex use;
  std::mutex lock;
  NSSInitContext* context = nullptr;
  SessionKind kind = SessionKind::None;
  std::uint64_t generation = 0;
  std::string sqlDirectory;
  std::optional<StoreLocation> main;  // the database NSS opened as its own
  std::vector<UserDatabase> extra;    // further user databases
  // Each database the open tried, with its key database as it was just before: NSS remakes a
  // missing or empty one as it opens the database, so that is the only time to look.
  std::vector<std::pair<std::string, QB_KEY_DATABASE_STATE>> keyDatabases;
  // Deliberately no destructor that shuts NSS down: see the top of the file.
};

Session& TheSession() {
  static Session session;
  return session;
}

// What parts keeping NSS objects between calls release before a close. Few parts do (the personal
// store's listing), so a fixed table serves, and registering never allocates.
constexpr std::size_t kMaxReleases = 4;
constinit std::array<std::atomic<void (*)()>, kMaxReleases> gReleases{};

void RunReleases() {
  for (const auto& release : gReleases)
    if (void (*call)() = release.load(); call != nullptr) call();
}

// Where NSS keeps an SQL database for `location`: "sql:DIR", or a bare DIR when NSS's default
// type (NSS_DEFAULT_DB_TYPE, read by NSS as it opens) is SQL, which it is unless set otherwise.
// A relative directory is taken from the working directory of the moment NSS opens it.
std::string SqlDirectory(const std::string& location) {
  std::string directory = location;
  if (location.starts_with("sql:")) {
    directory = location.substr(4);
  } else {
    // Another type's prefix ("dbm:DIR"), or a bare directory that NSS's default opens as another.
    const auto colon = location.find(':');
    const bool otherPrefix = colon != std::string::npos && location.find('/') > colon;
    const char* type = std::getenv("NSS_DEFAULT_DB_TYPE");
    const bool otherDefault = type != nullptr && *type != '\0' && std::strncmp(type, "sql", 3) != 0;
    if (otherPrefix || otherDefault) return {};
  }
  if (directory.empty() || directory.starts_with('/')) return directory;
  std::error_code error;
  const std::filesystem::path working = std::filesystem::current_path(error);
  if (error) return {};
  return (working / directory).string();
}

NSSInitContext* OpenDatabase(const std::string& location) {
  // The browsers' database lists the PKCS#11 modules (smart cards) the user has added; they are
  // loaded with it. The built-in root list is not needed: no chain is built here.
  return NSS_InitContext(location.c_str(), "", "", SECMOD_DB, nullptr,
                         NSS_INIT_NOROOTINIT | NSS_INIT_OPTIMIZESPACE);
}

NSSInitContext* OpenCryptoOnly() {
  return NSS_InitContext("", "", "", "", nullptr,
                         NSS_INIT_READONLY | NSS_INIT_NOCERTDB | NSS_INIT_NOMODDB | NSS_INIT_FORCEOPEN |
                             NSS_INIT_NOROOTINIT | NSS_INIT_OPTIMIZESPACE);
}

// A value in NSS's module parameter syntax, quoted so that any directory name survives.
std::string Quoted(const std::string& value) {
  std::string quoted = "\"";
  for (const char c : value) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// A further database as an additional software token. Read-only: the store only reads it, and
// the browser that owns it may be running.
UniqueSlot OpenUserDatabase(const StoreLocation& where) {
  const std::string spec = "configdir=" + Quoted(where.location) + " tokenDescription=" + Quoted(where.label) +
                           " flags=readOnly";
  std::vector<char> text(spec.begin(), spec.end());
  text.push_back('\0');
  return UniqueSlot(SECMOD_OpenUserDB(text.data()));
}

void CloseAtExit() { QbCryptCloseSession(); }

}  // namespace

SessionKind OpenSession(bool allowCryptoOnly) {
  Session& session = TheSession();
  std::lock_guard guard(session.lock);
  if (session.kind != SessionKind::None) return session.kind;
  // Whatever can run out of memory is done before NSS opens a database, and what NSS opened is
  // moved into the session without allocating: an open database is never left unrecorded, where
  // closing the session would not find it.
  for (const StoreLocation& where : StoreLocations()) {
    if (where.location.empty() || !DatabaseExists(where.location)) continue;
    // The file is read only while NSS holds none of the session's files (see key_database.h).
    session.keyDatabases.emplace_back(where.location,
                                      KeyDatabaseFileState(SqlDirectory(where.location), session.context == nullptr));
    if (session.context == nullptr) {
      std::string sqlDirectory = SqlDirectory(where.location);
      StoreLocation main = where;
      session.context = OpenDatabase(where.location);
      if (session.context == nullptr) continue;
      session.kind = SessionKind::Database;
      session.sqlDirectory = std::move(sqlDirectory);
      session.main = std::move(main);
    } else {
      UserDatabase entry{where, nullptr};
      session.extra.reserve(session.extra.size() + 1);
      entry.slot = OpenUserDatabase(where);
      if (entry.slot) session.extra.push_back(std::move(entry));
    }
  }
  if (session.kind == SessionKind::None && allowCryptoOnly) {
    session.context = OpenCryptoOnly();
    if (session.context != nullptr) session.kind = SessionKind::CryptoOnly;
  }
  if (session.kind != SessionKind::None) {
    ++session.generation;
    PK11_SetPasswordFunc(PasswordCallback);
    // After NSS loaded the modules: see the top of the file. A session reopened later loads them
    // anew, so each open registers again; the handlers of closed sessions find nothing to do.
    std::atexit(CloseAtExit);
  }
  return session.kind;
}

SessionHold::SessionHold() : use_(TheSession().use) {
  Session& session = TheSession();
  std::lock_guard guard(session.lock);
  kind_ = session.kind;
  generation_ = session.generation;
  sqlDirectory_ = session.sqlDirectory;
}

SessionKind CurrentSession() {
  Session& session = TheSession();
  std::lock_guard guard(session.lock);
  return session.kind;
}

std::optional<SlotDatabase> DatabaseOf(PK11SlotInfo* slot) {
  if (slot == nullptr) return std::nullopt;
  Session& session = TheSession();
  std::lock_guard guard(session.lock);
  if (session.main && PK11_IsInternalKeySlot(slot)) return SlotDatabase{session.main->label, session.main->location};
  for (const UserDatabase& database : session.extra) {
    if (PK11_GetModuleID(database.slot.get()) == PK11_GetModuleID(slot) &&
        PK11_GetSlotID(database.slot.get()) == PK11_GetSlotID(slot))
      return SlotDatabase{database.where.label, database.where.location};
  }
  return std::nullopt;
}

std::string DatabaseOfSlot(PK11SlotInfo* slot) {
  const auto database = DatabaseOf(slot);
  return database ? database->location : std::string();
}

}  // namespace qb::platform::nss

using namespace qb::platform::nss;

namespace {

void CopyText(char* to, std::size_t size, const std::string& text) {
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(to, text.data(), length);
  to[length] = '\0';
}

}  // namespace

void qb::platform::nss::ReleaseBeforeClose(void (*release)()) {
  for (auto& slot : gReleases) {
    void (*expected)() = nullptr;
    if (slot.compare_exchange_strong(expected, release) || expected == release) return;
  }
  // More parts than the table holds is a mistake of this library, found by its first test run.
  std::abort();
}

extern "C" {

BOOL WINAPI QbCryptOpenSession(BOOL requireDatabase) {
  return quillbox::LastErrorBoundary<BOOL>(FALSE, [&]() -> BOOL {
    const SessionKind kind = OpenSession(!requireDatabase);
    if (kind == SessionKind::Database || (kind == SessionKind::CryptoOnly && !requireDatabase)) return TRUE;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  });
}

BOOL WINAPI QbCryptCloseSession() {
  Session& session = TheSession();
  std::unique_lock use(session.use);
  std::lock_guard guard(session.lock);
  if (session.context == nullptr) {
    session.keyDatabases.clear();
    return TRUE;
  }
  // What parts remember (the store's listing) holds certificate references; NSS would shut down busy.
  RunReleases();
  for (UserDatabase& database : session.extra) SECMOD_CloseUserDB(database.slot.get());
  session.extra.clear();
  session.main.reset();
  session.keyDatabases.clear();
  ForgetPasswordTries();
  PORT_SetError(0);
  const SECStatus status = NSS_ShutdownContext(session.context);
  const bool busy = status != SECSuccess && PORT_GetError() == SEC_ERROR_BUSY;
  // NSS tears down what it can even when busy; the context is gone either way.
  session.context = nullptr;
  session.kind = SessionKind::None;
  session.sqlDirectory.clear();
  if (status == SECSuccess) return TRUE;
  SetLastError(busy ? ERROR_BUSY : ERROR_INVALID_HANDLE);
  return FALSE;
}

void WINAPI QbCryptSetPasswordPrompt(QB_CRYPT_PASSWORD_PROMPT prompt, void* context) {
  SetPasswordPrompt(prompt, context);
}

QB_KEY_DATABASE_STATE WINAPI QbCryptKeyDatabaseState(LPCSTR location, LPSTR path, DWORD size) {
  return quillbox::LastErrorBoundary<QB_KEY_DATABASE_STATE>(QB_KEY_DATABASE_FINE, [&]() -> QB_KEY_DATABASE_STATE {
    Session& session = TheSession();
    std::lock_guard guard(session.lock);
    const std::string wanted = location != nullptr ? location : session.main ? session.main->location : "";
    const std::string directory = wanted.empty() ? std::string() : SqlDirectory(wanted);
    if (path != nullptr && size > 0) CopyText(path, size, directory.empty() ? "" : KeyDatabasePath(directory));
    if (directory.empty()) return QB_KEY_DATABASE_FINE;

    const auto seen = std::find_if(session.keyDatabases.begin(), session.keyDatabases.end(),
                                   [&](const auto& entry) { return entry.first == wanted; });
    if (seen == session.keyDatabases.end()) {
      // No certificate database, no key database to speak of.
      if (!DatabaseExists(wanted)) return QB_KEY_DATABASE_FINE;
      return KeyDatabaseFileState(directory, session.context == nullptr);
    }
    if (seen->second != QB_KEY_DATABASE_FINE) return seen->second;
    // It was there before; a token that was never given a password holds no private key either.
    UniqueSlot slot;
    if (session.main && session.main->location == wanted) {
      slot.reset(PK11_GetInternalKeySlot());
    } else {
      for (const UserDatabase& database : session.extra) {
        if (database.where.location == wanted) slot.reset(PK11_ReferenceSlot(database.slot.get()));
      }
    }
    return slot && PK11_NeedUserInit(slot.get()) ? QB_KEY_DATABASE_EMPTY : QB_KEY_DATABASE_FINE;
  });
}

BOOL WINAPI QbCryptStoreDatabase(DWORD index, QB_CRYPT_STORE_DATABASE* database) {
  return quillbox::LastErrorBoundary<BOOL>(FALSE, [&]() -> BOOL {
    if (database == nullptr || database->cbSize < sizeof(QB_CRYPT_STORE_DATABASE)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const std::vector<StoreLocation> locations = StoreLocations();
    if (index >= locations.size()) {
      SetLastError(ERROR_NO_MORE_ITEMS);
      return FALSE;
    }
    const StoreLocation& where = locations[index];
    CopyText(database->label, sizeof database->label, where.label);
    CopyText(database->location, sizeof database->location, where.location);
    CopyText(database->lookedFor, sizeof database->lookedFor, where.lookedFor);
    database->exists = !where.location.empty() && DatabaseExists(where.location) ? TRUE : FALSE;
    Session& session = TheSession();
    std::lock_guard guard(session.lock);
    bool open = session.main && session.main->location == where.location;
    for (const UserDatabase& extra : session.extra) open = open || extra.where.location == where.location;
    database->open = open && !where.location.empty() ? TRUE : FALSE;
    return TRUE;
  });
}

}  // extern "C"
