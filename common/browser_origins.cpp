#include "common/browser_origins.h"

#include "common/origin.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

namespace quillbox {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  return line;
}

bool WellFormed(std::string_view origin) {
  return !OriginProblem(std::u16string(origin.begin(), origin.end())).has_value();
}

constexpr std::string_view kForbid = "forbid ";

// What a line of the user's file says: an origin allowed, one forbidden, or nothing (a comment, a
// blank or a line not understood). Leading blanks are not trimmed: the file is written one entry a
// line from the start.
struct UserLine {
  bool forbidden = false;
  std::string origin;  // "" when the line says nothing
  bool Names(bool forbid, const std::string& name) const { return forbidden == forbid && origin == name; }
};

UserLine ParseUserLine(std::string_view line) {
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  UserLine parsed;
  if (line.starts_with(kForbid)) {
    parsed.forbidden = true;
    line = Trimmed(line.substr(kForbid.size()));
  }
  if (!line.empty() && line.front() != '#' && WellFormed(line)) parsed.origin = line;
  return parsed;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

[[noreturn]] void Fail(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Each missing folder on the way, 0700 as the XDG rules ask for the user's configuration.
void MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1); ; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) Fail("cannot create " + part);
    if (slash == std::string::npos) return;
  }
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Reads the file under an exclusive lock on its folder, lets `change` edit its lines, and writes
// them back through a temporary file when it says so. The lock keeps two hosts that both write at
// once from losing one of the two changes.
template <typename Change>
bool Rewrite(const std::string& path, Change change) {
  const std::string folder = FolderOf(path);
  MakeFolders(folder);
  const Descriptor lock(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (lock.get() < 0 || flock(lock.get(), LOCK_EX) != 0) Fail("cannot lock " + folder);

  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in && errno != ENOENT) Fail("cannot read " + path);
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
  }
  std::vector<std::string> lines = Lines(text);
  if (!change(lines)) return false;
  std::string out;
  for (const std::string& line : lines) out += line + "\n";

  std::string temporary = path + ".XXXXXX";
  Descriptor file(mkostemp(temporary.data(), O_CLOEXEC));  // 0600 from the start
  if (file.get() < 0) Fail("cannot create a file beside " + path);
  std::size_t written = 0;
  while (written < out.size()) {
    const ssize_t n = write(file.get(), out.data() + written, out.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = errno;
      unlink(temporary.c_str());
      errno = error;
      Fail("cannot write " + temporary);
    }
    written += static_cast<std::size_t>(n);
  }
  if (fsync(file.get()) != 0 || close(file.release()) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    errno = error;
    Fail("cannot replace " + path);
  }
  return true;
}

}  // namespace

std::optional<std::string> UserOriginsPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/quillbox/browser-origins";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/quillbox/browser-origins";
  return std::nullopt;
}

UserOrigins ReadUserOrigins(const std::optional<std::string>& path) {
  UserOrigins origins;
  if (!path) return origins;
  std::ifstream in(*path);
  std::string line;
  while (std::getline(in, line)) {
    UserLine parsed = ParseUserLine(line);
    if (!parsed.origin.empty()) (parsed.forbidden ? origins.forbidden : origins.allowed).insert(std::move(parsed.origin));
  }
  for (const std::string& origin : origins.forbidden) origins.allowed.erase(origin);
  return origins;
}

AdminOrigins ParseAdminOrigins(std::string_view text) {
  AdminOrigins list;
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    const std::size_t gap = line.find_first_of(" \t");
    const std::string_view word = line.substr(0, gap);
    const std::string_view origin = gap == std::string_view::npos ? std::string_view() : Trimmed(line.substr(gap));
    const std::string where = "line " + std::to_string(number) + ": ";
    if (word != "allow" && word != "forbid") {
      list.problems.push_back(where + "neither \"allow ORIGIN\" nor \"forbid ORIGIN\"");
    } else if (origin.empty() || origin.find_first_of(" \t") != std::string_view::npos) {
      list.problems.push_back(where + "\"" + std::string(word) + "\" takes one origin");
    } else if (const auto problem = OriginProblem(std::u16string(origin.begin(), origin.end()))) {
      list.problems.push_back(where + *problem);
    } else {
      (word == "allow" ? list.allowed : list.forbidden).emplace(origin);
    }
  }
  return list;
}

AdminOrigins ReadAdminOrigins(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    AdminOrigins none;
    if (errno != ENOENT) none.problems.push_back(path + " cannot be read");
    return none;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseAdminOrigins(text.str());
}

namespace {

// The user's say on `origin` becomes `forbid`: the opposite line goes, the line for it is added
// unless it is there already.
bool SetUserOrigin(const std::string& path, const std::string& origin, bool forbid) {
  return Rewrite(path, [&](std::vector<std::string>& lines) {
    const bool took = std::erase_if(lines, [&](const std::string& line) {
      return ParseUserLine(line).Names(!forbid, origin);
    }) > 0;
    for (const std::string& line : lines) {
      if (ParseUserLine(line).Names(forbid, origin)) return took;
    }
    lines.push_back(forbid ? std::string(kForbid) + origin : origin);
    return true;
  });
}

}  // namespace

bool AllowUserOrigin(const std::string& path, const std::string& origin) { return SetUserOrigin(path, origin, false); }
bool ForbidUserOrigin(const std::string& path, const std::string& origin) { return SetUserOrigin(path, origin, true); }

}  // namespace quillbox
