#include "host/browser_install.h"

#include "host/browser_layout.h"
#include "host/browser_manifests.h"
#include "host/browser_names.h"
#include "host/cli.h"
#include "host/directories.h"
#include "host/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillbox::host {
namespace {

namespace fs = std::filesystem;

// Every file the installer writes is read by the browser, which for a system install runs as
// any user; a directory it creates in a home directory is the user's own, as the browsers make
// their own configuration directories.
constexpr mode_t kFileMode = 0644;
constexpr mode_t kSystemDirectoryMode = 0755;
constexpr mode_t kUserDirectoryMode = 0700;

// nullopt when --help asked for the help text, which is then printed.
std::optional<InstallTarget> ParseTarget(const Arguments& arguments) {
  const ParsedOptions options =
      ParseOptions(arguments, {.withValue = {"--root", "--chromium-user-data-dir"}, .flags = {"--system"}});
  if (options.Has("--help")) {
    std::fputs(HelpOf("browser").c_str(), stdout);
    return std::nullopt;
  }
  if (!options.Positionals().empty()) throw UsageError("unexpected argument " + options.Positionals().front());
  InstallTarget target;
  target.system = options.Has("--system");
  target.root = options.Value("--root").value_or("");
  target.chromiumUserDataDir = options.Value("--chromium-user-data-dir").value_or("");
  if (options.Has("--root") && target.root.empty()) throw UsageError("the option --root needs a directory");
  if (!target.root.empty()) target.root = fs::absolute(target.root).lexically_normal().string();
  if (options.Has("--chromium-user-data-dir") && target.chromiumUserDataDir.empty()) {
    throw UsageError("the option --chromium-user-data-dir needs a directory");
  }
  if (target.system && !target.chromiumUserDataDir.empty()) {
    throw UsageError("--chromium-user-data-dir names one user's profile; it does not go with --system");
  }
  return target;
}

std::string ManifestFile(const HostManifestPlace& place) {
  return place.directory + "/" + kNativeHostName + ".json";
}

// The browser starts the host by the path in the manifest; a manifest naming a program that is
// not there fails only later, in the browser, with a message few people find.
void RequireNativeHost(const std::string& path) {
  struct stat status{};
  if (::stat(path.c_str(), &status) != 0) {
    throw CommandError("cannot install: the native messaging host " + path +
                       " is missing (build the target quillbox_native_host, or install it beside quillbox)");
  }
  if (!S_ISREG(status.st_mode) || ::access(path.c_str(), X_OK) != 0) {
    throw CommandError("cannot install: the native messaging host " + path + " is not an executable file");
  }
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

void RequireFile(const std::string& path, const std::string& what) {
  std::error_code ignored;
  if (!fs::is_regular_file(path, ignored)) {
    throw CommandError("cannot install for every user: " + what + " " + path + " is missing (build the browser extension first)");
  }
}

std::string Missing(const std::string& path) { return Exists(path) ? "" : "\n      (not there yet: build the browser extension first)"; }

void PrintLoadingHelp(const BridgeFiles& files) {
  std::printf(
      "\nThe extension itself is loaded into each browser once, by hand:\n"
      "  Chromium, Google Chrome: open chrome://extensions, switch on \"Developer mode\", choose\n"
      "    \"Load unpacked\" and pick the folder\n"
      "      %s%s\n"
      "  Firefox: open about:debugging, choose \"This Firefox\", then \"Load Temporary Add-on...\"\n"
      "    and pick\n"
      "      %s%s\n"
      "    A temporary add-on lasts until Firefox ends. To keep it, install that file from\n"
      "    about:addons (\"Install Add-on From File...\") in a Firefox that allows unsigned add-ons\n"
      "    (Firefox ESR or Developer Edition with xpinstall.signatures.required set to false), or\n"
      "    install for every user with 'quillbox browser install --system'.\n",
      files.chromiumFolder.c_str(), Missing(files.chromiumFolder + "/manifest.json").c_str(),
      files.firefoxPackage.c_str(), Missing(files.firefoxPackage).c_str());
}

void WriteInstalled(const std::string& path, const std::string& text, mode_t directoryMode) {
  MakeDirectories(fs::path(path).parent_path().string(), directoryMode);
  // A file that is already there (an administrator's policies.json) keeps its permissions.
  WriteAll(path, text, Exists(path) ? std::nullopt : std::optional<mode_t>(kFileMode));
  std::printf("wrote %s\n", path.c_str());
}

std::string ReadIfThere(const std::string& path) { return Exists(path) ? ReadAll(path) : std::string(); }

}  // namespace

int BrowserInstallCommand(const Arguments& arguments) {
  const std::optional<InstallTarget> parsed = ParseTarget(arguments);
  if (!parsed) return 0;
  const InstallTarget& target = *parsed;
  const BridgeFiles files = BridgeFilesBesideProgram();
  RequireNativeHost(files.nativeHost);

  // For every user the browsers load the packed extension themselves, so it must be there before
  // anything points at it; everything is checked before the first file is written.
  std::string version;
  std::string policies;
  const std::string policiesFile = FirefoxPoliciesFile(target);
  if (target.system) {
    RequireFile(files.chromiumPackage, "the packed Chromium extension");
    RequireFile(files.firefoxPackage, "the Firefox extension");
    const std::string manifest = files.chromiumFolder + "/manifest.json";
    RequireFile(manifest, "the Chromium extension's manifest");
    try {
      version = ExtensionVersion(ReadAll(manifest));
    } catch (const CommandError& error) {
      throw CommandError("cannot read the version of " + manifest + ": " + error.what());
    }
    try {
      policies = WithFirefoxPolicy(ReadIfThere(policiesFile), FileUrl(files.firefoxPackage));
    } catch (const CommandError& error) {
      throw CommandError("cannot add the Firefox extension to " + policiesFile + ": " + error.what());
    }
  }

  const mode_t directoryMode = target.system ? kSystemDirectoryMode : kUserDirectoryMode;
  for (const HostManifestPlace& place : HostManifestPlaces(target)) {
    WriteInstalled(ManifestFile(place), HostManifestText(place.kind, files.nativeHost), directoryMode);
  }
  if (!target.system) {
    PrintLoadingHelp(files);
    return 0;
  }
  for (const std::string& external : ExternalExtensionFiles(target)) {
    WriteInstalled(external, ChromiumExternalExtensionText(files.chromiumPackage, version), directoryMode);
  }
  WriteInstalled(policiesFile, policies, directoryMode);
  std::printf(
      "\nChromium and Google Chrome install the extension\n  %s\nfor every user when they next start; Firefox installs\n  %s\n"
      "by its enterprise policy (a release Firefox loads only signed add-ons; Firefox ESR and\n"
      "Developer Edition load this one with xpinstall.signatures.required set to false).\n",
      files.chromiumPackage.c_str(), files.firefoxPackage.c_str());
  return 0;
}

int BrowserUninstallCommand(const Arguments& arguments) {
  const std::optional<InstallTarget> parsed = ParseTarget(arguments);
  if (!parsed) return 0;
  const InstallTarget& target = *parsed;
  std::vector<std::string> removed;
  for (const HostManifestPlace& place : HostManifestPlaces(target)) {
    if (RemoveFile(ManifestFile(place))) removed.push_back(ManifestFile(place));
  }
  if (target.system) {
    for (const std::string& external : ExternalExtensionFiles(target)) {
      if (RemoveFile(external)) removed.push_back(external);
    }
    // policies.json is the administrator's: only the bridge's entry goes, the file only when
    // nothing else was in it.
    const std::string policiesFile = FirefoxPoliciesFile(target);
    if (Exists(policiesFile)) {
      const std::string existing = ReadAll(policiesFile);
      std::optional<std::string> remaining;
      try {
        remaining = WithoutFirefoxPolicy(existing);
      } catch (const CommandError& error) {
        throw CommandError("cannot take the Firefox extension out of " + policiesFile + ": " + error.what());
      }
      if (!remaining) {
        RemoveFile(policiesFile);
        removed.push_back(policiesFile);
      } else if (*remaining != existing) {
        WriteAll(policiesFile, *remaining);
        removed.push_back(policiesFile + " (the entry for " + kFirefoxExtensionId + ")");
      }
    }
  }
  for (const std::string& path : removed) std::printf("removed %s\n", path.c_str());
  if (removed.empty()) std::printf("nothing to remove: the browser bridge is not installed there\n");
  return 0;
}

}  // namespace quillbox::host
