#include "host/demo_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <utility>

namespace quillbox::host {
namespace {

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }
};

std::optional<std::string> RealPath(const std::string& path) {
  const std::unique_ptr<char, FreeDeleter> real(realpath(path.c_str(), nullptr));
  if (!real) return std::nullopt;
  return std::string(real.get());
}

bool HasForbiddenSegment(std::string_view path) {
  if (path.find('\\') != std::string_view::npos || path.find('\0') != std::string_view::npos) return true;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view segment = path.substr(start, end - start);
    if (segment == "." || segment == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

ResolvedFile ResolveFile(const std::string& root, std::string_view requestPath) {
  if (requestPath.empty() || requestPath.front() != '/' || HasForbiddenSegment(requestPath))
    return {FileLookup::kRefused, ""};
  std::string relative(requestPath);
  if (relative.back() == '/') relative += "index.html";
  const auto real = RealPath(root + relative);
  if (!real) return {FileLookup::kMissing, ""};
  // A symbolic link inside the folder may point anywhere: only what really lies inside is served.
  if (!real->starts_with(root + "/")) return {FileLookup::kRefused, ""};
  struct stat file {};
  if (stat(real->c_str(), &file) != 0 || !S_ISREG(file.st_mode)) return {FileLookup::kMissing, ""};
  return {FileLookup::kFound, *real};
}

std::string ContentTypeOf(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".xml", "application/xml; charset=utf-8"},
      {".xsl", "application/xml; charset=utf-8"},
      {".json", "application/json; charset=utf-8"},
      {".txt", "text/plain; charset=utf-8"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
  };
  for (const auto& [suffix, type] : kTypes)
    if (name.ends_with(suffix)) return std::string(type);
  return "application/octet-stream";
}

}  // namespace quillbox::host
