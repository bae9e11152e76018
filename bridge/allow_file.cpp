#include "bridge/allow_file.h"

#include "bridge/origin.h"

#include <cstdlib>
#include <fstream>

namespace quillbox::bridge {

std::optional<std::string> AllowFilePath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/quillbox/browser-origins";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/quillbox/browser-origins";
  return std::nullopt;
}

AllowFile AllowFile::Load(const std::optional<std::string>& path) {
  AllowFile file;
  if (!path) return file;
  std::ifstream in(*path);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    // Origins are ASCII; a line that is not a well-formed origin can never match one and is skipped.
    const std::u16string origin(line.begin(), line.end());
    if (!OriginProblem(origin)) file.allowed_.insert(origin);
  }
  return file;
}

bool AllowFile::Allows(std::u16string_view origin) { return allowed_.contains(std::u16string(origin)); }

}  // namespace quillbox::bridge
