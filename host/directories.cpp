#include "host/directories.h"

#include "host/cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace quillbox::host {

void MakeDirectories(const std::string& path, mode_t mode) {
  struct stat existing{};
  if (::stat(path.c_str(), &existing) == 0) {
    if (!S_ISDIR(existing.st_mode)) throw CommandError("cannot create the directory " + path + ": a file is in the way");
    return;
  }
  const std::string parent = std::filesystem::path(path).parent_path().string();
  if (!parent.empty() && parent != path) MakeDirectories(parent, mode);
  if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
    throw CommandError("cannot create the directory " + path + ": " + std::strerror(errno));
  }
  if (::chmod(path.c_str(), mode) != 0) {
    throw CommandError("cannot set the permissions of " + path + ": " + std::strerror(errno));
  }
}

bool RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0) return true;
  if (errno == ENOENT) return false;
  throw CommandError("cannot remove " + path + ": " + std::strerror(errno));
}

}  // namespace quillbox::host
