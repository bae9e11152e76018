// The browsers' databases. Chromium (and Chrome, Evolution) keep the user's NSS database in
// ~/.pki/nssdb; Firefox keeps one per profile, found through profiles.ini and installs.ini.
#include "store_locations.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

namespace qb::platform::nss {
namespace {

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// An INI file as Mozilla writes it: [Section] headers and Key=Value lines, in file order.
using IniSection = std::map<std::string, std::string>;
std::vector<std::pair<std::string, IniSection>> ReadIni(const std::string& path) {
  std::vector<std::pair<std::string, IniSection>> sections;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    line = Trimmed(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      sections.emplace_back(line.substr(1, line.size() - 2), IniSection{});
    } else if (const auto equals = line.find('='); equals != std::string::npos && !sections.empty()) {
      sections.back().second[Trimmed(line.substr(0, equals))] = Trimmed(line.substr(equals + 1));
    }
  }
  return sections;
}

std::optional<std::string> Value(const IniSection& section, const std::string& key) {
  const auto it = section.find(key);
  if (it == section.end() || it->second.empty()) return std::nullopt;
  return it->second;
}

std::string ProfilePath(const std::string& firefoxDirectory, const std::string& path, bool relative) {
  if (!relative || path.starts_with('/')) return path;
  return firefoxDirectory + "/" + path;
}

std::string ChromiumLocation(const std::string& home) { return home.empty() ? std::string() : "sql:" + home + "/.pki/nssdb"; }

StoreLocation Chromium(const std::string& home) {
  const std::string location = ChromiumLocation(home);
  return {"Chromium", location, location.empty() ? "no home directory" : location.substr(4)};
}

StoreLocation Firefox(const std::string& home) {
  if (home.empty()) return {"Firefox", "", "no home directory"};
  const std::string directory = home + "/.mozilla/firefox";
  const std::string profile = FirefoxDefaultProfile(directory);
  return {"Firefox", profile.empty() ? std::string() : "sql:" + profile,
          profile.empty() ? directory + "/profiles.ini (no default profile)" : profile};
}

}  // namespace

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return {};
}

std::string FirefoxDefaultProfile(const std::string& firefoxDirectory) {
  // Since Firefox 67 each installation has a default profile of its own, which wins over the
  // profile list's Default=1 (kept there for older versions).
  for (const auto& [name, section] : ReadIni(firefoxDirectory + "/installs.ini")) {
    if (auto path = Value(section, "Default")) return ProfilePath(firefoxDirectory, *path, true);
  }
  const auto profiles = ReadIni(firefoxDirectory + "/profiles.ini");
  for (const auto& [name, section] : profiles) {
    if (!name.starts_with("Install")) continue;
    if (auto path = Value(section, "Default")) return ProfilePath(firefoxDirectory, *path, true);
  }
  std::vector<const IniSection*> listed;
  for (const auto& [name, section] : profiles) {
    if (name.starts_with("Profile") && Value(section, "Path")) listed.push_back(&section);
  }
  auto pathOf = [&](const IniSection& section) {
    return ProfilePath(firefoxDirectory, *Value(section, "Path"), Value(section, "IsRelative").value_or("1") != "0");
  };
  for (const IniSection* section : listed) {
    if (Value(*section, "Default").value_or("0") == "1") return pathOf(*section);
  }
  if (listed.size() == 1) return pathOf(*listed.front());
  return {};
}

std::vector<StoreLocation> StoreLocations() {
  const std::string home = HomeDirectory();
  if (const char* configured = std::getenv("QUILLBOX_NSS_DB"); configured != nullptr && *configured != '\0') {
    const std::string named = configured;
    if (named == "chromium") return {Chromium(home)};
    if (named == "firefox") return {Firefox(home)};
    return {{"QUILLBOX_NSS_DB", named, named}};
  }
  return {Chromium(home), Firefox(home)};
}

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

}  // namespace qb::platform::nss
