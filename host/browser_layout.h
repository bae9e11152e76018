// Where the browser bridge's pieces are, and where each browser looks for them. Nothing here
// touches the file system beyond reading this program's own location.
#pragma once

#include <string>
#include <vector>

namespace quillbox::host {

// What this program was installed with: the native messaging host beside it in bin/, and the
// extension in ../browser/ (build/bin/quillbox -> build/browser/, <prefix>/bin -> <prefix>/browser).
struct BridgeFiles {
  std::string nativeHost;       // .../bin/quillbox-native-host
  std::string chromiumFolder;   // .../browser/chromium (unpacked, with manifest.json)
  std::string chromiumPackage;  // .../browser/quillbox.crx
  std::string firefoxPackage;   // .../browser/quillbox.xpi
};
// From the directory this program runs from (/proc/self/exe, links resolved).
BridgeFiles BridgeFilesBesideProgram();

enum class ManifestKind { kChromium, kFirefox };

struct HostManifestPlace {
  std::string browser;    // "Chromium", "Google Chrome", "Firefox"
  std::string directory;  // where org.quillbox.host.json goes
  ManifestKind kind;
};

struct InstallTarget {
  bool system = false;
  std::string root;                 // a staging root every written path is put under ("" for /)
  std::string chromiumUserDataDir;  // a Chromium profile elsewhere (user installs only)
};

// The directories of the host manifests, each already under the target's root.
std::vector<HostManifestPlace> HostManifestPlaces(const InstallTarget& target);

// The system-wide files that make the browsers load the extension for every user, under the root:
// the external extension files of Chromium and Google Chrome, and Firefox's policies.json.
std::vector<std::string> ExternalExtensionFiles(const InstallTarget& target);
std::string FirefoxPoliciesFile(const InstallTarget& target);

// `path` put under the target's root.
std::string UnderRoot(const InstallTarget& target, const std::string& path);

}  // namespace quillbox::host
