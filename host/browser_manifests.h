// The texts the browser installer writes: native messaging host manifests, Chromium's external
// extension file, and the bridge's entry in Firefox's policies.json (added to or taken out of
// whatever else the administrator keeps there). Pure text in, text out; the caller names files.
#pragma once

#include "host/browser_layout.h"

#include <optional>
#include <string>

namespace quillbox::host {

// org.quillbox.host.json for a browser of `kind`, naming the host program by its absolute path.
std::string HostManifestText(ManifestKind kind, const std::string& hostPath);

// /usr/share/chromium/extensions/<id>.json: the packed extension and its version.
std::string ChromiumExternalExtensionText(const std::string& crxPath, const std::string& version);

// The "version" of an extension's manifest.json; throws CommandError when there is none.
std::string ExtensionVersion(const std::string& manifestText);

// policies.json (`existing`, empty when there is no file yet) with the bridge's entry in
// policies.ExtensionSettings: installed for every user from `xpiUrl`. Other policies and other
// extensions' settings are kept as they are. Throws CommandError when `existing` is not a
// policies file it can add to.
std::string WithFirefoxPolicy(const std::string& existing, const std::string& xpiUrl);
// `existing` without the bridge's entry (and without an ExtensionSettings or policies object
// that only the entry kept alive); nullopt when nothing at all is left, so the file can go.
std::optional<std::string> WithoutFirefoxPolicy(const std::string& existing);

// A file:// URL for an absolute path, with everything but unreserved characters and '/'
// percent-encoded.
std::string FileUrl(const std::string& path);

}  // namespace quillbox::host
