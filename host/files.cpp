#include "host/files.h"

#include "host/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quillbox::host {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

bool IsStandardStream(const std::string& path) { return path.empty() || path == "-"; }

std::string Describe(const std::string& path) { return IsStandardStream(path) ? "standard input" : path; }

}  // namespace

std::string ReadAll(const std::string& path) {
  UniqueFile owned;
  std::FILE* file = stdin;
  if (!IsStandardStream(path)) {
    owned.reset(std::fopen(path.c_str(), "rb"));
    if (!owned) throw CommandError("cannot read " + path + ": " + std::strerror(errno));
    file = owned.get();
  }
  std::string bytes;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, got);
  if (std::ferror(file)) throw CommandError("cannot read " + Describe(path));
  return bytes;
}

void WriteAll(const std::string& path, std::string_view bytes) {
  UniqueFile owned;
  std::FILE* file = stdout;
  if (!IsStandardStream(path)) {
    owned.reset(std::fopen(path.c_str(), "wb"));
    if (!owned) throw CommandError("cannot write " + path + ": " + std::strerror(errno));
    file = owned.get();
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
  if (!written) throw CommandError("cannot write " + (IsStandardStream(path) ? std::string("standard output") : path));
  if (owned && std::fclose(owned.release()) != 0) throw CommandError("cannot write " + path);
}

}  // namespace quillbox::host
