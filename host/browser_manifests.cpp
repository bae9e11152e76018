#include "host/browser_manifests.h"

#include "common/json_parse.h"
#include "host/browser_names.h"
#include "host/cli.h"
#include "host/pretty_json.h"
#include "host/text.h"

#include <algorithm>

namespace quillbox::host {
namespace {

using quillbox::JsonArray;
using quillbox::JsonObject;
using quillbox::JsonValue;

// An administrator's file may be larger and deeper than a browser's message; the bounds only
// keep a hostile file from exhausting memory.
constexpr std::size_t kFileDepth = 64;
constexpr std::size_t kFileValues = 1000000;

JsonValue Text(const std::string& utf8) { return JsonValue(Utf8ToUtf16(utf8)); }

void SetMember(JsonObject& object, const std::u16string& name, JsonValue value) {
  const auto found = std::ranges::find_if(object, [&](const auto& member) { return member.first == name; });
  if (found != object.end()) {
    found->second = std::move(value);
  } else {
    object.emplace_back(name, std::move(value));
  }
}

bool RemoveMember(JsonObject& object, const std::u16string& name) {
  return std::erase_if(object, [&](const auto& member) { return member.first == name; }) != 0;
}

JsonValue ParseFile(const std::string& text, const char* what) {
  try {
    return quillbox::ParseJson(text, kFileDepth, kFileValues);
  } catch (const quillbox::JsonError& error) {
    throw CommandError(std::string("it is not ") + what + " (" + error.what() + ")");
  }
}

// The object member `name` of `object`, copied; an empty object when there is none.
JsonObject ObjectMember(const JsonObject& object, const std::u16string& name, const std::string& where) {
  for (const auto& [key, value] : object) {
    if (key != name) continue;
    if (const JsonObject* inner = value.Object()) return *inner;
    throw CommandError(where + " is not a JSON object");
  }
  return {};
}

const std::u16string kPolicies = u"policies";
const std::u16string kExtensionSettings = u"ExtensionSettings";

}  // namespace

std::string HostManifestText(ManifestKind kind, const std::string& hostPath) {
  JsonObject manifest = {{u"name", Text(kNativeHostName)},
                         {u"description", Text("Quillbox XML signing for web pages")},
                         {u"path", Text(hostPath)},
                         {u"type", Text("stdio")}};
  if (kind == ManifestKind::kChromium) {
    manifest.emplace_back(u"allowed_origins",
                          JsonArray{Text(std::string("chrome-extension://") + kChromiumExtensionId + "/")});
  } else {
    manifest.emplace_back(u"allowed_extensions", JsonArray{Text(kFirefoxExtensionId)});
  }
  return WritePrettyJson(JsonValue(std::move(manifest)));
}

std::string ChromiumExternalExtensionText(const std::string& crxPath, const std::string& version) {
  return WritePrettyJson(JsonObject{{u"external_crx", Text(crxPath)}, {u"external_version", Text(version)}});
}

std::string ExtensionVersion(const std::string& manifestText) {
  const JsonValue manifest = ParseFile(manifestText, "an extension manifest");
  const JsonValue* version = manifest.Member(u"version");
  if (version == nullptr || version->String() == nullptr || version->String()->empty()) {
    throw CommandError("it names no version");
  }
  return Utf16ToUtf8(*version->String());
}

std::string WithFirefoxPolicy(const std::string& existing, const std::string& xpiUrl) {
  JsonObject document;
  if (existing.find_first_not_of(" \t\r\n") != std::string::npos) {
    const JsonValue parsed = ParseFile(existing, "a Firefox policies file");
    if (parsed.Object() == nullptr) throw CommandError("it is not a JSON object");
    document = *parsed.Object();
  }
  JsonObject policies = ObjectMember(document, kPolicies, "\"policies\"");
  JsonObject settings = ObjectMember(policies, kExtensionSettings, "\"policies\".\"ExtensionSettings\"");
  // Installed for every profile, and kept: the bridge is what the administrator deploys for the
  // signing pages, so a user cannot remove it by accident.
  SetMember(settings, Utf8ToUtf16(kFirefoxExtensionId),
            JsonObject{{u"installation_mode", Text("force_installed")}, {u"install_url", Text(xpiUrl)}});
  SetMember(policies, kExtensionSettings, std::move(settings));
  SetMember(document, kPolicies, std::move(policies));
  return WritePrettyJson(JsonValue(std::move(document)));
}

std::optional<std::string> WithoutFirefoxPolicy(const std::string& existing) {
  const JsonValue parsed = ParseFile(existing, "a Firefox policies file");
  if (parsed.Object() == nullptr) throw CommandError("it is not a JSON object");
  JsonObject document = *parsed.Object();
  JsonObject policies = ObjectMember(document, kPolicies, "\"policies\"");
  JsonObject settings = ObjectMember(policies, kExtensionSettings, "\"policies\".\"ExtensionSettings\"");
  if (!RemoveMember(settings, Utf8ToUtf16(kFirefoxExtensionId))) return existing;
  if (settings.empty()) {
    RemoveMember(policies, kExtensionSettings);
  } else {
    SetMember(policies, kExtensionSettings, std::move(settings));
  }
  if (policies.empty()) {
    RemoveMember(document, kPolicies);
  } else {
    SetMember(document, kPolicies, std::move(policies));
  }
  if (document.empty()) return std::nullopt;
  return WritePrettyJson(JsonValue(std::move(document)));
}

std::string FileUrl(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
        c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      url += c;
    } else {
      url += '%';
      url += kHex[byte >> 4];
      url += kHex[byte & 0xF];
    }
  }
  return url;
}

}  // namespace quillbox::host
