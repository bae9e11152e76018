// certs: what the personal store holds, and putting certificates with their keys into it.
#include "host/cert_text.h"
#include "host/cli.h"
#include "host/commands.h"
#include "host/subprocess.h"

#include <qbcrypt.h>
#include <wincrypt.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>

namespace quillbox::host {
namespace {

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};

// FILETIME counts 100-nanosecond intervals since 1 January 1601 (UTC).
std::time_t UnixTime(const FILETIME& time) {
  const std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  constexpr std::uint64_t kTicksPerSecond = 10000000;
  constexpr std::int64_t kUnixEpochSeconds = 11644473600;
  return static_cast<std::time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) - kUnixEpochSeconds);
}

std::string FileTimeText(const FILETIME& time) {
  const std::time_t seconds = UnixTime(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

// Where the key is, learnt without logging in: listing never asks for a password or PIN.
std::string KeyText(const QB_CERT_KEY_INFO& info) {
  const std::string token = std::string("\"") + info.tokenName + "\"";
  const char* secret = info.hardware ? "PIN" : "password";
  switch (info.state) {
    case QB_CERT_KEY_READY: return std::string(info.hardware ? "hardware token " : "software token ") + token;
    case QB_CERT_KEY_LOGIN_NEEDED: return "on token " + token + " (" + secret + " needed)";
    case QB_CERT_KEY_LOCKED: return "on token " + token + " (locked: its PIN is blocked)";
    case QB_CERT_KEY_UNINITIALISED:
      // A database says which of its files is missing or empty, and where.
      if (!info.hardware && std::string(info.sourceLabel) != "token") {
        if (const std::string problem = KeyDatabaseProblem(info.source); !problem.empty()) return "none: " + problem;
      }
      return info.hardware ? "none: token " + token + " has no PIN set, so it holds no private key"
                           : "none: token " + token + " has no key database (its key4.db is missing or empty)";
    default: return "none (certificate only)";
  }
}

std::string SourceText(const QB_CERT_KEY_INFO& info) {
  if (info.sourceLabel[0] == '\0') return "unknown";
  if (std::string(info.sourceLabel) == "token") return std::string("token \"") + info.source + "\"";
  return std::string(info.sourceLabel) + " (" + info.source + ")";
}

// A validity bound against now: "" while it holds, else what is wrong.
std::string ValidityMark(const CERT_INFO& info) {
  const std::time_t now = std::time(nullptr);
  if (now < UnixTime(info.NotBefore)) return " (not yet valid)";
  if (now > UnixTime(info.NotAfter)) return " (expired)";
  return "";
}

// Says which databases were looked for, and how to name one, when none could be opened.
std::string NoStoreText() {
  std::string looked;
  bool foundOne = false;
  for (DWORD i = 0;; ++i) {
    QB_CRYPT_STORE_DATABASE database{};
    database.cbSize = sizeof database;
    if (!QbCryptStoreDatabase(i, &database)) break;
    std::string found = database.exists || database.location[0] == '\0' ? "" : " (not found)";
    if (database.exists && !database.open) {
      if (const std::string problem = KeyDatabaseProblem(database.location); !problem.empty()) {
        found = " (found, but " + problem + ")";
        foundOne = true;
      }
    }
    looked += std::string("\n  ") + database.label + ": " + database.lookedFor + found;
  }
  return std::string("cannot open the personal store: ") +
         (foundOne ? "no certificate database could be opened" : "no certificate database was found") +
         ". Looked for:" + looked +
         "\nName one with --store chromium, --store firefox or --store sql:DIRECTORY (or QUILLBOX_NSS_DB), or "
         "make one with 'quillbox certs import' or 'quillbox certs new-self-signed'.";
}

int ListCertificates() {
  std::unique_ptr<void, StoreCloser> store(CertOpenSystemStoreA(0, "MY"));
  if (!store) throw CommandError(NoStoreText());
  int count = 0;
  for (PCCERT_CONTEXT certificate = CertEnumCertificatesInStore(store.get(), nullptr); certificate != nullptr;
       certificate = CertEnumCertificatesInStore(store.get(), certificate)) {
    const CERT_INFO& info = *certificate->pCertInfo;
    QB_CERT_KEY_INFO key{};
    key.cbSize = sizeof key;
    QbCertKeyInfo(certificate, &key);
    if (count++ > 0) std::printf("\n");
    std::printf("subject: %s\n", NameText(info.Subject).c_str());
    std::printf("issuer:  %s\n", NameText(info.Issuer).c_str());
    std::printf("serial:  %s\n", SerialText(info.SerialNumber).c_str());
    std::printf("valid:   %s to %s%s\n", FileTimeText(info.NotBefore).c_str(), FileTimeText(info.NotAfter).c_str(),
                ValidityMark(info).c_str());
    if (!AllowsDigitalSignature(info)) std::printf("usage:   not for signing (its key usage excludes digitalSignature)\n");
    std::printf("key:     %s\n", KeyText(key).c_str());
    std::printf("from:    %s\n", SourceText(key).c_str());
  }
  if (count == 0) std::fprintf(stderr, "the personal store %s holds no certificate\n", OpenDatabasesText().c_str());
  return 0;
}

// The directory of an NSS database name ("sql:/path" or "/path").
std::string DatabaseDirectory(const std::string& database) {
  for (const char* prefix : {"sql:", "dbm:"}) {
    if (database.starts_with(prefix)) return database.substr(std::strlen(prefix));
  }
  return database;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

void MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      throw CommandError("cannot create " + prefix + ": " + std::strerror(errno));
    }
    if (slash == std::string::npos) return;
  }
}

std::vector<std::string> DatabasePasswordArguments(const char* option) {
  if (const char* file = std::getenv("QUILLBOX_NSS_PASSWORD_FILE"); file != nullptr && *file != '\0') {
    return {option, file};
  }
  return {};
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& more) { to.insert(to.end(), more.begin(), more.end()); }

// Creates the database, with an empty password, when its directory holds none yet.
void EnsureDatabase(const std::string& database) {
  const std::string directory = DatabaseDirectory(database);
  if (Exists(directory + "/cert9.db") || Exists(directory + "/cert8.db")) return;
  MakeDirectories(directory);
  std::vector<std::string> arguments = {"-N", "-d", database};
  const auto password = DatabasePasswordArguments("-f");
  if (password.empty()) arguments.push_back("--empty-password");
  Append(arguments, password);
  if (RunProgram("certutil", arguments) != 0) throw CommandError("certutil could not create the database " + database);
}

// A temporary file that is removed when it goes.
class TempFile {
 public:
  explicit TempFile(std::string_view contents) {
    const char* base = std::getenv("TMPDIR");
    path_ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/quillbox-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd < 0) throw CommandError("cannot create a temporary file: " + std::string(std::strerror(errno)));
    std::FILE* file = fdopen(fd, "wb");
    const bool written = file != nullptr && std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    if (file != nullptr) std::fclose(file);
    if (!written) throw CommandError("cannot write a temporary file");
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

int NewSelfSigned(const ParsedOptions& options) {
  const auto& positionals = options.Positionals();
  if (positionals.size() != 2) throw UsageError("new-self-signed needs exactly one SUBJECT");
  const std::string& subject = positionals[1];
  long days = 365;
  if (auto text = options.Value("--days")) {
    char* end = nullptr;
    days = std::strtol(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || days < 1 || days > 36500) throw UsageError("--days needs a number from 1 to 36500");
  }
  const long months = (days + 29) / 30;

  std::random_device random;
  std::string noise(2048, '\0');
  for (char& byte : noise) byte = static_cast<char>(random());
  const TempFile noiseFile(noise);
  // A random serial keeps issuer and serial unique among self-signed certificates of one subject;
  // certutil takes it as a positive 32-bit number.
  const std::uint32_t serial = (random() & 0x7FFFFFFFu) | 1u;
  const std::string database = StoreDatabase();
  EnsureDatabase(database);

  std::vector<std::string> arguments = {"-S", "-d", database, "-n", subject + " #" + std::to_string(serial),
                                        "-s", subject, "-x", "-t", "u,u,u", "-k", "rsa", "-g", "2048", "-Z", "SHA256",
                                        "-v", std::to_string(months), "-m", std::to_string(serial),
                                        "-z", noiseFile.path(), "--keyUsage", "digitalSignature,nonRepudiation"};
  Append(arguments, DatabasePasswordArguments("-f"));
  if (RunProgram("certutil", arguments) != 0) throw CommandError("certutil could not make the certificate");
  std::printf("made a self-signed certificate for %s in %s\n", subject.c_str(), database.c_str());
  return 0;
}

int Import(const ParsedOptions& options) {
  const auto& positionals = options.Positionals();
  if (positionals.size() != 2) throw UsageError("import needs exactly one FILE.p12");
  const std::string database = StoreDatabase();
  EnsureDatabase(database);
  std::vector<std::string> arguments = {"-i", positionals[1], "-d", database};
  if (auto passwordFile = options.Value("--password-file")) Append(arguments, {"-w", *passwordFile});
  Append(arguments, DatabasePasswordArguments("-k"));
  if (RunProgram("pk12util", arguments) != 0) throw CommandError("pk12util could not import " + positionals[1]);
  return 0;
}

}  // namespace

std::string KeyDatabaseProblem(const std::string& location) {
  char path[1024] = "";
  switch (QbCryptKeyDatabaseState(location.c_str(), path, sizeof path)) {
    case QB_KEY_DATABASE_MISSING:
      return std::string("it has no key database: ") + path +
             " was missing (NSS has made an empty one in its place), so its certificates have no private keys";
    case QB_KEY_DATABASE_EMPTY:
      return std::string("its key database ") + path + " is empty: it holds no private keys and no password";
    case QB_KEY_DATABASE_UNREADABLE:
      return std::string("its key database ") + path + " cannot be read: there is no permission, or it is no NSS key database";
    default:
      return {};
  }
}

std::string StoreDatabase() {
  QB_CRYPT_STORE_DATABASE database{};
  database.cbSize = sizeof database;
  if (!QbCryptStoreDatabase(0, &database)) throw CommandError("no home directory, and no --store given");
  if (database.location[0] == '\0') {
    throw CommandError(std::string("no ") + database.label + " database: looked for " + database.lookedFor);
  }
  return database.location;
}

std::string OpenDatabasesText() {
  std::string text;
  for (DWORD i = 0;; ++i) {
    QB_CRYPT_STORE_DATABASE database{};
    database.cbSize = sizeof database;
    if (!QbCryptStoreDatabase(i, &database)) break;
    if (!database.open) continue;
    text += (text.empty() ? "" : " and ") + std::string(database.location);
  }
  return text.empty() ? StoreDatabase() : text;
}

int CertsCommand(const Arguments& arguments) {
  const ParsedOptions options = ParseOptions(arguments, {.withValue = {"--password-file", "--days"}});
  if (options.Has("--help")) {
    std::fputs(HelpOf("certs").c_str(), stdout);
    return 0;
  }
  const auto& positionals = options.Positionals();
  const std::string action = positionals.empty() ? "list" : positionals.front();
  if (action != "import" && options.Has("--password-file")) throw UsageError("--password-file belongs to import");
  if (action != "new-self-signed" && options.Has("--days")) throw UsageError("--days belongs to new-self-signed");
  if (action == "list") {
    if (positionals.size() > 1) throw UsageError("list takes no arguments");
    return ListCertificates();
  }
  if (action == "import") return Import(options);
  if (action == "new-self-signed") return NewSelfSigned(options);
  throw UsageError("unknown certs action " + action);
}

}  // namespace quillbox::host
