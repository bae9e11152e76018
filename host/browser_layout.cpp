#include "host/browser_layout.h"

#include "host/browser_names.h"
#include "host/cli.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace quillbox::host {
namespace {

namespace fs = std::filesystem;

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  throw CommandError("cannot tell the home directory: HOME is not set");
}

// Chromium and Chrome keep their configuration where the XDG base directory rules put it; a
// relative XDG_CONFIG_HOME is no base directory and counts as unset.
std::string ConfigDirectory() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') return config;
  return HomeDirectory() + "/.config";
}

}  // namespace

BridgeFiles BridgeFilesBesideProgram() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) throw CommandError("cannot tell where this program is: /proc/self/exe: " + error.message());
  const fs::path bin = program.parent_path();
  const fs::path browser = bin.parent_path() / "browser";
  return {(bin / kNativeHostProgram).string(), (browser / "chromium").string(), (browser / "quillbox.crx").string(),
          (browser / "quillbox.xpi").string()};
}

std::string UnderRoot(const InstallTarget& target, const std::string& path) {
  if (target.root.empty()) return path;
  std::string root = target.root;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root == "/" ? path : root + path;
}

std::vector<HostManifestPlace> HostManifestPlaces(const InstallTarget& target) {
  std::vector<HostManifestPlace> places;
  if (target.system) {
    // Debian's chromium, Google's chrome package, and Mozilla's system-wide directory, which
    // Debian's firefox-esr reads as well.
    places = {{"Chromium", "/etc/chromium/native-messaging-hosts", ManifestKind::kChromium},
              {"Google Chrome", "/etc/opt/chrome/native-messaging-hosts", ManifestKind::kChromium},
              {"Firefox", "/usr/lib/mozilla/native-messaging-hosts", ManifestKind::kFirefox}};
  } else if (!target.chromiumUserDataDir.empty()) {
    // A profile kept elsewhere (chromium --user-data-dir) looks only in its own directory.
    places = {{"Chromium", fs::absolute(target.chromiumUserDataDir).lexically_normal().string() + "/NativeMessagingHosts",
               ManifestKind::kChromium},
              {"Firefox", HomeDirectory() + "/.mozilla/native-messaging-hosts", ManifestKind::kFirefox}};
  } else {
    const std::string config = ConfigDirectory();
    places = {{"Chromium", config + "/chromium/NativeMessagingHosts", ManifestKind::kChromium},
              {"Google Chrome", config + "/google-chrome/NativeMessagingHosts", ManifestKind::kChromium},
              {"Firefox", HomeDirectory() + "/.mozilla/native-messaging-hosts", ManifestKind::kFirefox}};
  }
  for (HostManifestPlace& place : places) place.directory = UnderRoot(target, place.directory);
  return places;
}

std::vector<std::string> ExternalExtensionFiles(const InstallTarget& target) {
  // Where each reads extensions that stand outside its installation (the product's name under
  // /usr/share), one file named by the extension's ID.
  const std::string file = std::string("/") + kChromiumExtensionId + ".json";
  return {UnderRoot(target, "/usr/share/chromium/extensions" + file),
          UnderRoot(target, "/usr/share/google-chrome/extensions" + file)};
}

std::string FirefoxPoliciesFile(const InstallTarget& target) {
  return UnderRoot(target, "/etc/firefox/policies/policies.json");
}

}  // namespace quillbox::host
