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

bool IsStandardStream(const std::string& path) { return path.empty() || path == "-"; }

std::string Describe(const std::string& path) { return IsStandardStream(path) ? "standard input" : path; }

std::string Reason(int error) { return std::strerror(error); }

std::string DirectoryOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

}  // namespace

// The temporary file a write goes to first: removed again unless it was renamed into place.
class FileWriter::Temporary {
 public:
  explicit Temporary(const std::string& target) {
    const std::string directory = DirectoryOf(target);
    name_ = directory + "/." + std::filesystem::path(target).filename().string() + ".XXXXXX";
    descriptor_ = mkostemp(name_.data(), O_CLOEXEC);
    if (descriptor_ < 0) {
      const int error = errno;
      name_.clear();
      throw CommandError("cannot write " + target + ": cannot create a file in " + directory + ": " + Reason(error));
    }
  }
  ~Temporary() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!name_.empty()) ::unlink(name_.c_str());
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;

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

namespace {

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

}  // namespace

FileReader::FileReader(const std::string& path) : path_(path), file_(stdin) {
  if (!IsStandardStream(path)) {
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) throw CommandError("cannot read " + path + ": " + Reason(errno));
    owned_ = true;
  }
  if (struct stat info{}; ::fstat(::fileno(file_), &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0)
    size_ = static_cast<std::size_t>(info.st_size);
}

FileReader::~FileReader() {
  if (owned_) std::fclose(file_);
}

std::size_t FileReader::Read(char* room, std::size_t bytes) {
  const std::size_t got = std::fread(room, 1, bytes, file_);
  if (got < bytes && std::ferror(file_)) throw CommandError("cannot read " + Describe(path_));
  return got;
}

void FileReader::ReadToEnd(std::string& bytes) {
  // A regular file's size is known: room for all of it at once, rather than a string that doubles
  // (and copies, and touches fresh pages) its way up to a large document. A file that grows while
  // it is read is still read to its end.
  if (size_ && *size_ > bytes.size()) bytes.reserve(*size_);
  char buffer[65536];
  for (std::size_t got; (got = Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, got);
}

std::string ReadAll(const std::string& path) {
  FileReader file(path);
  std::string bytes;
  file.ReadToEnd(bytes);
  return bytes;
}

FileWriter::FileWriter(const std::string& path, std::optional<mode_t> mode) : path_(path), target_(path) {
  if (IsStandardStream(path)) {
    kind_ = Kind::StandardOutput;
    return;
  }
  // Through a symbolic link the file it points to is replaced, not the link.
  std::error_code ignored;
  if (std::filesystem::is_symlink(path, ignored)) {
    if (const auto resolved = std::filesystem::weakly_canonical(path, ignored); !ignored) target_ = resolved.string();
  }
  struct stat existing{};
  const bool exists = ::stat(target_.c_str(), &existing) == 0;
  // A device or a pipe ("-o /dev/stdout") cannot be replaced; it is written as it is.
  if (exists && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
    kind_ = Kind::InPlace;
    descriptor_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (descriptor_ < 0) throw CommandError("cannot write " + target_ + ": " + Reason(errno));
    return;
  }
  temporary_ = std::make_unique<Temporary>(target_);
  const mode_t fileMode = mode ? *mode : exists ? (existing.st_mode & 07777) : NewFileMode();
  if (::fchmod(temporary_->descriptor(), fileMode) != 0) throw CommandError("cannot write " + path + ": " + Reason(errno));
}

FileWriter::~FileWriter() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

void FileWriter::Write(std::string_view bytes) {
  switch (kind_) {
    case Kind::StandardOutput:
      errno = 0;
      if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
        throw CommandError("cannot write standard output: " + Reason(errno != 0 ? errno : EIO));
      return;
    case Kind::InPlace:
      if (!WriteFully(descriptor_, bytes)) throw CommandError("cannot write " + target_ + ": " + Reason(errno));
      return;
    case Kind::Replacing:
      if (!WriteFully(temporary_->descriptor(), bytes)) throw CommandError("cannot write " + path_ + ": " + Reason(errno));
      return;
  }
}

void FileWriter::Commit() {
  switch (kind_) {
    case Kind::StandardOutput:
      errno = 0;
      if (std::fflush(stdout) != 0) throw CommandError("cannot write standard output: " + Reason(errno != 0 ? errno : EIO));
      return;
    case Kind::InPlace: {
      const int result = ::close(descriptor_);
      descriptor_ = -1;
      if (result != 0) throw CommandError("cannot write " + target_ + ": " + Reason(errno));
      return;
    }
    case Kind::Replacing:
      break;
  }
  if (::fsync(temporary_->descriptor()) != 0 || temporary_->Close() != 0) {
    throw CommandError("cannot write " + path_ + ": " + Reason(errno));
  }
  if (::rename(temporary_->name().c_str(), target_.c_str()) != 0) {
    throw CommandError("cannot write " + path_ + ": " + Reason(errno));
  }
  temporary_->Renamed();
  // The rename itself is durable only once the directory is synced; the file is complete either way.
  if (const int directory = ::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
}

void WriteAll(const std::string& path, std::string_view bytes, std::optional<mode_t> mode) {
  FileWriter file(path, mode);
  file.Write(bytes);
  file.Commit();
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
