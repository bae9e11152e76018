#include "key_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qb::platform::nss {
namespace {

constexpr char kSqliteHeader[] = "SQLite format 3";  // with its zero byte: the file's first 16 bytes

// A descriptor closed when it goes out of scope.
class File {
 public:
  explicit File(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)) {}
  ~File() {
    if (fd_ >= 0) close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool StartsLikeSqlite(const std::string& path) {
  const File file(path);
  if (file.fd() < 0) return false;
  char header[sizeof kSqliteHeader] = {};
  return read(file.fd(), header, sizeof header) == static_cast<ssize_t>(sizeof header) &&
         std::memcmp(header, kSqliteHeader, sizeof header) == 0;
}

}  // namespace

std::string KeyDatabasePath(const std::string& directory) { return directory + "/key4.db"; }

QB_KEY_DATABASE_STATE KeyDatabaseFileState(const std::string& directory, bool readHeader) {
  if (directory.empty()) return QB_KEY_DATABASE_FINE;
  const std::string path = KeyDatabasePath(directory);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT ? QB_KEY_DATABASE_MISSING : QB_KEY_DATABASE_UNREADABLE;
  if (!S_ISREG(st.st_mode)) return QB_KEY_DATABASE_UNREADABLE;
  if (st.st_size == 0) return QB_KEY_DATABASE_EMPTY;
  if (access(path.c_str(), R_OK) != 0) return QB_KEY_DATABASE_UNREADABLE;
  if (readHeader && !StartsLikeSqlite(path)) return QB_KEY_DATABASE_UNREADABLE;
  return QB_KEY_DATABASE_FINE;
}

}  // namespace qb::platform::nss
