// The NSS session: opened once per process on first need, read-write so that tools in the same
// process can import into the database, and shut down at unload. Also the password callback
// through which NSS asks for token passwords.
#include "nss_session.h"

#include "crypt32_listing.h"

#include <qbcrypt.h>

#include <nss.h>
#include <pk11pub.h>
#include <secerr.h>
#include <secport.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace qb::platform::nss {
namespace {

// A prompt that keeps answering wrongly is given up after this many answers, so a broken hook
// cannot hold the thread in NSS's retry loop.
constexpr int kMaxPasswordAnswers = 3;

struct PromptHook {
  QB_CRYPT_PASSWORD_PROMPT prompt = nullptr;
  void* context = nullptr;
};

struct Session {
  // Held shared while NSS objects are read for keeping, exclusively while NSS shuts down.
  std::shared_mutex use;
  std::mutex lock;
  NSSInitContext* context = nullptr;
  SessionKind kind = SessionKind::None;
  std::uint64_t generation = 0;
  std::string sqlDirectory;
  std::mutex hookLock;
  PromptHook hook;

  ~Session() {
    // Process exit or platform unload. A leaked reference makes NSS report busy; there is no one
    // left to tell, so the result is not looked at.
    if (context == nullptr) return;
    ForgetPersonalListing();
    NSS_ShutdownContext(context);
  }
};

Session& TheSession() {
  static Session session;
  return session;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return {};
}

// A database exists when its certificate file is there. Opening read-write would otherwise create
// an empty database in whatever directory the location names.
bool DatabaseExists(const std::string& location) {
  std::string path = location;
  bool sql = true;
  bool dbm = true;
  if (path.starts_with("sql:")) {
    path.erase(0, 4);
    dbm = false;
  } else if (path.starts_with("dbm:")) {
    path.erase(0, 4);
    sql = false;
  } else if (const auto colon = path.find(':'); colon != std::string::npos && path.find('/') > colon) {
    return true;  // another NSS database type ("extern:", "rdb:"): NSS itself decides
  }
  if (path.empty()) return false;
  return (sql && IsFile(path + "/cert9.db")) || (dbm && IsFile(path + "/cert8.db"));
}

// Where NSS keeps an SQL database for `location`: "sql:DIR", or a bare DIR when NSS's default
// type (NSS_DEFAULT_DB_TYPE, read by NSS as it opens) is SQL, which it is unless set otherwise.
// A relative directory is taken from the working directory of the moment NSS opens it.
std::string SqlDirectory(const std::string& location) {
  std::string directory;
  if (location.starts_with("sql:")) {
    directory = location.substr(4);
  } else if (const auto colon = location.find(':'); colon != std::string::npos && location.find('/') > colon) {
    return {};
  } else if (const char* type = std::getenv("NSS_DEFAULT_DB_TYPE");
             type != nullptr && *type != '\0' && std::strncmp(type, "sql", 3) != 0) {
    return {};
  } else {
    directory = location;
  }
  if (directory.empty() || directory.starts_with('/')) return directory;
  std::error_code error;
  const std::filesystem::path working = std::filesystem::current_path(error);
  if (error) return {};
  return (working / directory).string();
}

char* PasswordFromFile(bool retry) {
  // The file gives the same answer every time: once it has been wrong, asking again is useless.
  if (retry) return nullptr;
  const char* file = std::getenv("QUILLBOX_NSS_PASSWORD_FILE");
  if (file == nullptr || *file == '\0') return nullptr;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return nullptr;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  char* answer = PORT_Strdup(line.c_str());
  explicit_bzero(line.data(), line.size());
  return answer;
}

char* PasswordCallback(PK11SlotInfo* slot, PRBool retry, void*) {
  thread_local int answers = 0;
  if (!retry) answers = 0;
  if (++answers > kMaxPasswordAnswers) return nullptr;

  PromptHook hook;
  {
    std::lock_guard guard(TheSession().hookLock);
    hook = TheSession().hook;
  }
  if (hook.prompt == nullptr) return PasswordFromFile(retry != PR_FALSE);

  char buffer[512] = {};
  const char* token = slot != nullptr ? PK11_GetTokenName(slot) : "";
  char* answer = nullptr;
  if (hook.prompt(hook.context, token, retry ? TRUE : FALSE, buffer, sizeof buffer)) {
    buffer[sizeof buffer - 1] = '\0';
    answer = PORT_Strdup(buffer);
  }
  explicit_bzero(buffer, sizeof buffer);
  return answer;
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

}  // namespace

std::string DatabaseLocation() {
  if (const char* configured = std::getenv("QUILLBOX_NSS_DB"); configured != nullptr && *configured != '\0')
    return configured;
  const std::string home = HomeDirectory();
  if (home.empty()) return {};
  return "sql:" + home + "/.pki/nssdb";
}

SessionKind OpenSession(bool allowCryptoOnly) {
  Session& session = TheSession();
  std::lock_guard guard(session.lock);
  if (session.kind != SessionKind::None) return session.kind;
  const std::string location = DatabaseLocation();
  if (!location.empty() && DatabaseExists(location)) {
    session.context = OpenDatabase(location);
    if (session.context != nullptr) {
      session.kind = SessionKind::Database;
      session.sqlDirectory = SqlDirectory(location);
    }
  }
  if (session.kind == SessionKind::None && allowCryptoOnly) {
    session.context = OpenCryptoOnly();
    if (session.context != nullptr) session.kind = SessionKind::CryptoOnly;
  }
  if (session.kind != SessionKind::None) {
    ++session.generation;
    PK11_SetPasswordFunc(PasswordCallback);
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

}  // namespace qb::platform::nss

using namespace qb::platform::nss;

extern "C" {

BOOL WINAPI QbCryptOpenSession(BOOL requireDatabase) {
  const SessionKind kind = OpenSession(!requireDatabase);
  if (kind == SessionKind::Database || (kind == SessionKind::CryptoOnly && !requireDatabase)) return TRUE;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return FALSE;
}

BOOL WINAPI QbCryptCloseSession() {
  Session& session = TheSession();
  std::unique_lock use(session.use);
  std::lock_guard guard(session.lock);
  if (session.context == nullptr) return TRUE;
  // The store's remembered listing holds certificate references; NSS would shut down busy.
  qb::platform::ForgetPersonalListing();
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
  Session& session = TheSession();
  std::lock_guard guard(session.hookLock);
  session.hook = PromptHook{prompt, context};
}

}  // extern "C"
