#include "host/files.h"

#include "host/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace quillbox::host {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

bool IsStandardStream(const std::string& path) { return path.empty() || path == "-"; }

std::string Describe(const std::string& path) { return IsStandardStream(path) ? "standard input" : path; }

std::string Reason(int error) { return std::strerror(error); }

std::string DirectoryOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// The temporary file a write goes to first: removed again unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) {
    const std::string directory = DirectoryOf(target);
    name_ = directory + "/." + std::filesystem::path(target).filename().string() + ".XXXXXX";
    descriptor_ = mkostemp(name_.data(), O_CLOEXEC);
    if (descriptor_ < 0) {
      const int error = errno;
      name_.clear();
      throw CommandError("cannot write " + target + ": cannot create a file in " + directory + ": " + Reason(error));
    }
  }
  ~TemporaryFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!name_.empty()) ::unlink(name_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int descriptor() const { return descriptor_; }
  const std::string& name() const { return name_; }
  // Closes the file, reporting what close reports (NFS tells write errors only there).
  int Close() {
    const int result = ::close(descriptor_);
    descriptor_ = -1;
    return result;
  }
  void Renamed() { name_.clear(); }

 private:
  std::string name_;
  int descriptor_ = -1;
};

// What a newly created file would get: 0666 less the umask. umask can only be read by setting it.
mode_t NewFileMode() {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return 0666 & ~mask;
}

bool WriteFully(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = EIO;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void WriteInPlace(const std::string& path, std::string_view bytes) {
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (descriptor < 0) throw CommandError("cannot write " + path + ": " + Reason(errno));
  const bool written = WriteFully(descriptor, bytes);
  const int error = errno;
  if (::close(descriptor) != 0 || !written) throw CommandError("cannot write " + path + ": " + Reason(written ? errno : error));
}

void WriteStandardOutput(std::string_view bytes) {
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0) {
    throw CommandError("cannot write standard output: " + Reason(errno != 0 ? errno : EIO));
  }
}

}  // namespace

std::string ReadAll(const std::string& path) {
  UniqueFile owned;
  std::FILE* file = stdin;
  if (!IsStandardStream(path)) {
    owned.reset(std::fopen(path.c_str(), "rb"));
    if (!owned) throw CommandError("cannot read " + path + ": " + Reason(errno));
    file = owned.get();
  }
  std::string bytes;
  // A regular file's size is known: room for all of it at once, rather than a string that doubles
  // (and copies, and touches fresh pages) its way up to a large document. A file that grows while
  // it is read is still read to its end.
  if (struct stat info{}; ::fstat(::fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    bytes.reserve(static_cast<std::size_t>(info.st_size));
  }
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, got);
  if (std::ferror(file)) throw CommandError("cannot read " + Describe(path));
  return bytes;
}

void WriteAll(const std::string& path, std::string_view bytes) {
  if (IsStandardStream(path)) return WriteStandardOutput(bytes);
  // Through a symbolic link the file it points to is replaced, not the link.
  std::string target = path;
  std::error_code ignored;
  if (std::filesystem::is_symlink(path, ignored)) {
    if (const auto resolved = std::filesystem::weakly_canonical(path, ignored); !ignored) target = resolved.string();
  }
  struct stat existing{};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  // A device or a pipe ("-o /dev/stdout") cannot be replaced; it is written as it is.
  if (exists && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) return WriteInPlace(target, bytes);

  TemporaryFile temporary(target);
  const mode_t mode = exists ? (existing.st_mode & 07777) : NewFileMode();
  if (::fchmod(temporary.descriptor(), mode) != 0 || !WriteFully(temporary.descriptor(), bytes) ||
      ::fsync(temporary.descriptor()) != 0 || temporary.Close() != 0) {
    throw CommandError("cannot write " + path + ": " + Reason(errno));
  }
  if (::rename(temporary.name().c_str(), target.c_str()) != 0) {
    throw CommandError("cannot write " + path + ": " + Reason(errno));
  }
  temporary.Renamed();
  // The rename itself is durable only once the directory is synced; the file is complete either way.
  if (const int directory = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
}

void FlushStandardOutput() {
  // Flushed and checked rather than closed: code that runs at exit may still print, and a
  // closed stream (or a descriptor 1 that a later open reuses) would take that somewhere worse.
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    throw CommandError("cannot write standard output: " + Reason(errno != 0 ? errno : EIO));
  }
}

}  // namespace quillbox::host
