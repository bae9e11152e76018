#include "registry_database.h"

#include "registry_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace qb::platform::registry {
namespace {

// Long enough for other processes' registrations to finish one after another, even when they
// take seconds each on a loaded or instrumented machine (a writer that waits is not first in line:
// it retries after sleeps, so it may wait out several of another's transactions); short enough
// that a program holding a write transaction open is reported as "busy" rather than stalling the
// caller for good. Readers are not held up by a writer at all (WAL).
constexpr int kBusyTimeoutMs = 30000;

constexpr const char* kSchema[] = {
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"  // never reused, so a stale handle never finds a new key
    "  parent INTEGER,"
    "  name BLOB NOT NULL,"    // UTF-16, as created
    "  folded BLOB NOT NULL,"  // upper-cased, big-endian UTF-16: identity and enumeration order
    "  written INTEGER NOT NULL,"
    "  UNIQUE(parent, folded))",
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  folded BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, folded))",
    "INSERT OR IGNORE INTO keys(id, parent, name, folded, written) VALUES"
    "  (1, NULL, CAST('HKEY_CLASSES_ROOT' AS BLOB), CAST('HKEY_CLASSES_ROOT' AS BLOB), 0),"
    "  (2, NULL, CAST('HKEY_CURRENT_USER' AS BLOB), CAST('HKEY_CURRENT_USER' AS BLOB), 0),"
    "  (3, NULL, CAST('HKEY_LOCAL_MACHINE' AS BLOB), CAST('HKEY_LOCAL_MACHINE' AS BLOB), 0)",
};

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string HomeDirectory() {
  std::string home = EnvironmentValue("HOME");
  if (!home.empty()) return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return "";
}

bool MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// A fork child must not touch the connection it inherited (SQLite's locks belong to the parent);
// it is abandoned, still reachable so that leak checkers stay quiet.
std::vector<sqlite3*>& Abandoned() {
  static auto* list = new std::vector<sqlite3*>;
  return *list;
}

}  // namespace

LSTATUS StatusFromSqlite(int code) {
  switch (code & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
      return ERROR_ACCESS_DENIED;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

std::string RegistryPath() {
  if (std::string path = EnvironmentValue("QUILLBOX_REGISTRY"); !path.empty()) return path;
  std::string data = EnvironmentValue("XDG_DATA_HOME");
  if (data.empty() || data[0] != '/') {
    const std::string home = HomeDirectory();
    if (home.empty()) return "";
    data = home + "/.local/share";
  }
  return data + "/quillbox/registry.db";
}

Database& Database::Instance() {
  static auto* database = new Database;  // never destroyed: modules may use the registry during exit
  return *database;
}

LSTATUS Database::EnsureOpen() {
  const std::string path = RegistryPath();
  if (path.empty()) return ERROR_REGISTRY_IO_FAILED;
  if (db_ != nullptr && pid_ != static_cast<int>(getpid())) {
    Abandoned().push_back(db_);
    db_ = nullptr;
    statements_.clear();
  }
  if (db_ != nullptr && path == path_) return ERROR_SUCCESS;
  if (path != path_) ++generation;
  Close();
  return Open(path);
}

void Database::RequireOpen() const {
  if (db_ == nullptr) throw StoreError{ERROR_REGISTRY_IO_FAILED};
}

LSTATUS Database::Open(const std::string& path) {
  const auto slash = path.rfind('/');
  const bool exists = access(path.c_str(), F_OK) == 0;
  if (!exists && slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) {
    return ERROR_ACCESS_DENIED;
  }
  // SQLite opens a file the user may not write read-only by itself; such a registry (one an
  // administrator filled and left readable) still serves every read.
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                     nullptr);
  if (opened != SQLITE_OK) {
    sqlite3_close(db);
    return StatusFromSqlite(opened);
  }
  db_ = db;
  path_ = path;
  pid_ = static_cast<int>(getpid());
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  const bool readOnly = sqlite3_db_readonly(db_, "main") == 1;
  LSTATUS status = ERROR_SUCCESS;
  if (readOnly) {
    status = SchemaComplete();
    // A WAL database needs its shared-memory file; in a directory the user may not write, it
    // cannot be made, and a registry nobody writes at the moment is read as it stands.
    if (status == ERROR_ACCESS_DENIED && access((path + "-wal").c_str(), F_OK) != 0) status = OpenImmutable(path);
  } else {
    status = PrepareForWriting();
  }
  if (status != ERROR_SUCCESS) {
    Close();
    path_.clear();
  }
  return status;
}

LSTATUS Database::PrepareForWriting() {
  try {
    // WAL keeps readers off writers' backs; if another process holds the file so that the mode
    // cannot switch now, the rollback journal is just as crash-safe and a later open switches.
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    // Durable against a crashed process in either journal mode; only power loss may cost the
    // last commits, never consistency.
    Execute("PRAGMA synchronous=NORMAL");
    // The write lock is taken only when the schema is missing: a registry in use by another
    // process's long write must still open, and read, at once.
    if (SchemaComplete() == ERROR_SUCCESS) return ERROR_SUCCESS;
    Execute("BEGIN IMMEDIATE");
    for (const char* sql : kSchema) Execute(sql);
    Execute("COMMIT");
  } catch (const StoreError& error) {
    return error.status;
  }
  return ERROR_SUCCESS;
}

LSTATUS Database::SchemaComplete() {
  sqlite3_stmt* statement = nullptr;
  int code = sqlite3_prepare_v2(db_,
                                "SELECT (SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('keys', 'vals'))"
                                " = 2 AND (SELECT count(*) FROM keys WHERE id IN (1, 2, 3)) = 3",
                                -1, &statement, nullptr);
  bool complete = false;
  if (code == SQLITE_OK) {
    code = sqlite3_step(statement);
    complete = code == SQLITE_ROW && sqlite3_column_int(statement, 0) == 1;
  }
  sqlite3_finalize(statement);
  if (complete) return ERROR_SUCCESS;
  // A table missing makes the statement fail to prepare: that is an incomplete schema too.
  if (code == SQLITE_ERROR || code == SQLITE_ROW || code == SQLITE_DONE) return ERROR_ACCESS_DENIED;
  return StatusFromSqlite(code);
}

LSTATUS Database::OpenImmutable(const std::string& path) {
  Close();
  std::string uri = "file:";
  for (const unsigned char c : path) {
    if (c == '%' || c == '?' || c == '#' || c < 0x21 || c >= 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xF];
    } else {
      uri += static_cast<char>(c);
    }
  }
  uri += "?immutable=1";
  sqlite3* db = nullptr;
  const int opened =
      sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  if (opened != SQLITE_OK) {
    sqlite3_close(db);
    return StatusFromSqlite(opened);
  }
  db_ = db;
  return SchemaComplete();
}

void Database::Close() {
  for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
  statements_.clear();
  if (db_ != nullptr) sqlite3_close(db_);
  db_ = nullptr;
}

void Database::Execute(const char* sql) {
  RequireOpen();
  const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) throw StoreError{StatusFromSqlite(code)};
}

sqlite3_stmt* Database::Prepare(std::string_view sql) {
  RequireOpen();
  auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second;
  // The key is made before preparing, so a failed allocation cannot leave a prepared statement
  // that nothing owns.
  std::string key(sql);
  sqlite3_stmt* statement = nullptr;
  const int code = sqlite3_prepare_v3(db_, key.data(), static_cast<int>(key.size()), SQLITE_PREPARE_PERSISTENT,
                                      &statement, nullptr);
  if (code != SQLITE_OK) throw StoreError{StatusFromSqlite(code)};
  try {
    statements_.emplace(std::move(key), statement);
  } catch (...) {
    sqlite3_finalize(statement);
    throw;
  }
  return statement;
}

Statement::Statement(std::string_view sql) : statement_(Database::Instance().Prepare(sql)) {}

Statement::~Statement() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

void Statement::BindInt(int index, std::int64_t value) {
  if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) throw StoreError{ERROR_REGISTRY_IO_FAILED};
}

void Statement::BindBlob(int index, const void* data, std::size_t size) {
  static const char empty = 0;  // a zero-length blob, not NULL
  const int code = sqlite3_bind_blob64(statement_, index, size != 0 ? data : &empty, size, SQLITE_TRANSIENT);
  if (code != SQLITE_OK) throw StoreError{StatusFromSqlite(code)};
}

bool Statement::Step() {
  const int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  throw StoreError{StatusFromSqlite(code)};
}

}  // namespace qb::platform::registry
