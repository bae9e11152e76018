// quillbox browser install / uninstall through the real binary: the host manifests each browser
// reads, per user and for every user (into a staging root), and what uninstall leaves behind.
#include "host/command_runner.h"

#include "common/json_parse.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quillbox::host::test {
namespace {

namespace fs = std::filesystem;
using quillbox::JsonValue;

const std::string kManifest = "org.quillbox.host.json";
const std::string kChromiumId = "epgcjooclppodjeojlgjabiipejpegcp";
const std::string kChromiumOrigin = "chrome-extension://" + kChromiumId + "/";
const std::string kFirefoxId = "bridge@quillbox.org";

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text, fs::perms perms = fs::perms(0644)) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  fs::permissions(path, perms);
}

JsonValue ParseFile(const std::string& path) { return quillbox::ParseJson(ReadText(path)); }

// The ASCII text of a JSON string ("" when it is none), enough for the names and paths here.
std::string Text(const JsonValue* value) {
  if (value == nullptr || value->String() == nullptr) return "";
  std::string text;
  for (const char16_t unit : *value->String()) text += static_cast<char>(unit);
  return text;
}

std::vector<std::string> Names(const JsonValue& object) {
  std::vector<std::string> names;
  if (object.Object() == nullptr) return names;
  for (const auto& member : *object.Object()) {
    std::string name;
    for (const char16_t unit : member.first) name += static_cast<char>(unit);
    names.push_back(name);
  }
  return names;
}

unsigned ModeOf(const std::string& path) {
  struct stat status{};
  if (::stat(path.c_str(), &status) != 0) return 0;
  return status.st_mode & 07777;
}

bool Exists(const std::string& path) { return fs::exists(path); }

// Checks one host manifest: exactly the members a browser reads, the host named by an absolute
// path to an executable, and the one extension of that browser allowed.
void ExpectHostManifest(const std::string& path, bool chromium, const std::string& hostPath) {
  SCOPED_TRACE(path);
  ASSERT_TRUE(Exists(path));
  const JsonValue manifest = ParseFile(path);
  const std::string allowed = chromium ? "allowed_origins" : "allowed_extensions";
  EXPECT_EQ(Names(manifest), (std::vector<std::string>{"name", "description", "path", "type", allowed}));
  EXPECT_EQ(Text(manifest.Member(u"name")), "org.quillbox.host");
  EXPECT_FALSE(Text(manifest.Member(u"description")).empty());
  EXPECT_EQ(Text(manifest.Member(u"type")), "stdio");
  const std::string host = Text(manifest.Member(u"path"));
  EXPECT_EQ(host, hostPath);
  EXPECT_TRUE(fs::path(host).is_absolute());
  EXPECT_EQ(::access(host.c_str(), X_OK), 0) << host;
  const JsonValue* list = manifest.Member(chromium ? u"allowed_origins" : u"allowed_extensions");
  ASSERT_TRUE(list != nullptr && list->Array() != nullptr);
  ASSERT_EQ(list->Array()->size(), 1u);
  EXPECT_EQ(Text(&list->Array()->front()), chromium ? kChromiumOrigin : kFirefoxId);
  EXPECT_EQ(ModeOf(path), 0644u);
}

// A copy of quillbox in a prefix of its own, so that what lies beside it (the native host, the
// extension in ../browser) is up to each test. The copy finds its libraries through the build
// tree's run path.
class Prefix {
 public:
  Prefix() {
    fs::create_directories(bin());
    fs::copy_file(std::string(QUILLBOX_BIN_DIR) + "/quillbox", quillbox());
  }
  std::string bin() const { return dir_ / "bin"; }
  std::string quillbox() const { return bin() + "/quillbox"; }
  std::string host() const { return bin() + "/quillbox-native-host"; }
  std::string browser() const { return dir_ / "browser"; }
  void AddHost(fs::perms perms = fs::perms(0755)) const { WriteText(host(), "#!/bin/sh\nexit 0\n", perms); }
  void AddExtension(const std::string& version = "1.2.3") const {
    WriteText(browser() + "/chromium/manifest.json",
              "{\"manifest_version\": 3, \"name\": \"Quillbox\", \"version\": \"" + version + "\"}");
    WriteText(browser() + "/quillbox.crx", "Cr24 stands in for the packed extension");
    WriteText(browser() + "/quillbox.xpi", "PK stands in for the Firefox extension");
  }

 private:
  quillbox::test::TempDir dir_{"quillbox-prefix"};
};

class BrowserInstall : public ::testing::Test {
 protected:
  // The quillbox of the build tree, beside the real quillbox-native-host.
  Result Quillbox(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) const {
    return world_.ProgramWith(std::string(QUILLBOX_BIN_DIR) + "/quillbox", arguments, environment);
  }
  Result QuillboxIn(const Prefix& prefix, const std::vector<std::string>& arguments) const {
    return world_.ProgramWith(prefix.quillbox(), arguments, {});
  }
  std::string Home(const std::string& path) const { return world_.dir() + "/" + path; }
  std::string ChromiumManifest() const { return Home(".config/chromium/NativeMessagingHosts/" + kManifest); }
  std::string ChromeManifest() const { return Home(".config/google-chrome/NativeMessagingHosts/" + kManifest); }
  std::string FirefoxManifest() const { return Home(".mozilla/native-messaging-hosts/" + kManifest); }
  std::string Root(const std::string& path) const { return world_.dir() + "/root" + path; }
  std::string PoliciesFile() const { return Root("/etc/firefox/policies/policies.json"); }

  World world_;
};

const std::string kHost = std::string(QUILLBOX_BIN_DIR) + "/quillbox-native-host";

TEST_F(BrowserInstall, WritesTheManifestOfEachBrowserForTheUser) {
  const Result result = Quillbox({"browser", "install"});
  ASSERT_EQ(result.status, 0) << result.err;
  ExpectHostManifest(ChromiumManifest(), true, kHost);
  ExpectHostManifest(ChromeManifest(), true, kHost);
  ExpectHostManifest(FirefoxManifest(), false, kHost);
  // The browsers' own directories, made new here, are the user's alone.
  EXPECT_EQ(ModeOf(Home(".config/chromium")), 0700u);
  EXPECT_EQ(ModeOf(Home(".config/chromium/NativeMessagingHosts")), 0700u);
  EXPECT_EQ(ModeOf(Home(".mozilla")), 0700u);
  // How to load the extension, with its absolute paths beside the build tree's bin/.
  const std::string browser = fs::path(QUILLBOX_BIN_DIR).parent_path().string() + "/browser";
  EXPECT_NE(result.out.find("chrome://extensions"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Load unpacked"), std::string::npos);
  EXPECT_NE(result.out.find(browser + "/chromium\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("about:debugging"), std::string::npos);
  EXPECT_NE(result.out.find(browser + "/quillbox.xpi"), std::string::npos);
  EXPECT_NE(result.out.find("wrote " + FirefoxManifest()), std::string::npos);
}

TEST_F(BrowserInstall, InstallingAgainReplacesTheManifestsAndKeepsTheirDirectories) {
  ASSERT_EQ(Quillbox({"browser", "install"}).status, 0);
  WriteText(ChromiumManifest(), "{\"stale\": true}");
  const Result again = Quillbox({"browser", "install"});
  ASSERT_EQ(again.status, 0) << again.err;
  ExpectHostManifest(ChromiumManifest(), true, kHost);
  // No temporary file stays behind.
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(ChromiumManifest()).parent_path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST_F(BrowserInstall, ChromiumAndChromeFollowAnAbsoluteXdgConfigHome) {
  const std::string config = Home("xdg");
  const Result result = Quillbox({"browser", "install"}, {"XDG_CONFIG_HOME=" + config});
  ASSERT_EQ(result.status, 0) << result.err;
  ExpectHostManifest(config + "/chromium/NativeMessagingHosts/" + kManifest, true, kHost);
  ExpectHostManifest(config + "/google-chrome/NativeMessagingHosts/" + kManifest, true, kHost);
  ExpectHostManifest(FirefoxManifest(), false, kHost);  // Firefox keeps to ~/.mozilla
  EXPECT_FALSE(Exists(ChromiumManifest()));

  // A relative XDG_CONFIG_HOME is no base directory: ~/.config it is.
  const Result relative = Quillbox({"browser", "install"}, {"XDG_CONFIG_HOME=relative/config"});
  ASSERT_EQ(relative.status, 0) << relative.err;
  ExpectHostManifest(ChromiumManifest(), true, kHost);
}

TEST_F(BrowserInstall, AChromiumProfileElsewhereGetsItsOwnManifest) {
  const std::string profile = Home("profiles/work");
  const Result result = Quillbox({"browser", "install", "--chromium-user-data-dir", profile});
  ASSERT_EQ(result.status, 0) << result.err;
  ExpectHostManifest(profile + "/NativeMessagingHosts/" + kManifest, true, kHost);
  ExpectHostManifest(FirefoxManifest(), false, kHost);
  EXPECT_FALSE(Exists(ChromiumManifest()));
  EXPECT_FALSE(Exists(ChromeManifest()));

  const Result removed = Quillbox({"browser", "uninstall", "--chromium-user-data-dir", profile});
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_FALSE(Exists(profile + "/NativeMessagingHosts/" + kManifest));
  EXPECT_TRUE(fs::is_directory(profile + "/NativeMessagingHosts"));
}

TEST_F(BrowserInstall, AStagingRootTakesTheUsersManifestsToo) {
  const Result result = Quillbox({"browser", "install", "--root", Root("")});
  ASSERT_EQ(result.status, 0) << result.err;
  // Under the root, at the path each would have, and naming the real host.
  ExpectHostManifest(Root(ChromiumManifest()), true, kHost);
  ExpectHostManifest(Root(FirefoxManifest()), false, kHost);
  EXPECT_FALSE(Exists(ChromiumManifest()));
  ASSERT_EQ(Quillbox({"browser", "uninstall", "--root", Root("")}).status, 0);
  EXPECT_FALSE(Exists(Root(FirefoxManifest())));
}

TEST_F(BrowserInstall, UninstallRemovesOnlyTheBridgesManifests) {
  ASSERT_EQ(Quillbox({"browser", "install"}).status, 0);
  const std::string foreign = Home(".config/chromium/NativeMessagingHosts/com.example.other.json");
  WriteText(foreign, "{\"name\": \"com.example.other\"}");
  const Result result = Quillbox({"browser", "uninstall"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_FALSE(Exists(ChromiumManifest()));
  EXPECT_FALSE(Exists(ChromeManifest()));
  EXPECT_FALSE(Exists(FirefoxManifest()));
  EXPECT_EQ(ReadText(foreign), "{\"name\": \"com.example.other\"}");
  EXPECT_NE(result.out.find("removed " + ChromiumManifest()), std::string::npos) << result.out;

  const Result again = Quillbox({"browser", "uninstall"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("nothing to remove"), std::string::npos) << again.out;
}

TEST_F(BrowserInstall, RefusesAHostThatIsMissingOrNotExecutable) {
  const Prefix prefix;
  const Result missing = QuillboxIn(prefix, {"browser", "install"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(prefix.host() + " is missing"), std::string::npos) << missing.err;
  EXPECT_FALSE(Exists(Home(".config")));
  EXPECT_FALSE(Exists(Home(".mozilla")));

  prefix.AddHost(fs::perms(0644));
  const Result plain = QuillboxIn(prefix, {"browser", "install"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.err.find(prefix.host() + " is not an executable file"), std::string::npos) << plain.err;
  EXPECT_FALSE(Exists(Home(".config")));

  fs::permissions(prefix.host(), fs::perms(0755));
  const Result installed = QuillboxIn(prefix, {"browser", "install"});
  ASSERT_EQ(installed.status, 0) << installed.err;
  ExpectHostManifest(FirefoxManifest(), false, prefix.host());
  // Without the extension beside it, the help says so.
  EXPECT_NE(installed.out.find(prefix.browser() + "/chromium\n      (not there yet"), std::string::npos) << installed.out;
}

TEST_F(BrowserInstall, AnUnwritableTargetIsNamedAndFailsTheCommand) {
  WriteText(Home(".mozilla"), "a file where the directory would go");
  const Result result = Quillbox({"browser", "install"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(Home(".mozilla")), std::string::npos) << result.err;

  const Prefix prefix;
  prefix.AddHost();
  prefix.AddExtension();
  WriteText(Root("/etc"), "a file where the directory would go");
  const Result system = QuillboxIn(prefix, {"browser", "install", "--system", "--root", Root("")});
  EXPECT_EQ(system.status, 1);
  EXPECT_NE(system.err.find(Root("/etc")), std::string::npos) << system.err;
}

TEST_F(BrowserInstall, WrongUsageEndsWithStatusTwo) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"browser", "frobnicate"},
                                             {"browser", "install", "extra"},
                                             {"browser", "install", "--bogus"},
                                             {"browser", "install", "--root"},
                                             {"browser", "install", "--system", "--chromium-user-data-dir", "x"},
                                             {"browser", "uninstall", "--system", "--system"}}) {
    const Result result = Quillbox(arguments);
    EXPECT_EQ(result.status, 2) << ::testing::PrintToString(arguments);
    EXPECT_NE(result.err.find("usage:"), std::string::npos) << result.err;
  }
  const Result help = Quillbox({"browser", "install", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("quillbox browser install"), std::string::npos) << help.out;
  EXPECT_FALSE(Exists(Home(".config")));
  const Result overall = Quillbox({"--help"});
  EXPECT_NE(overall.out.find("quillbox browser uninstall"), std::string::npos) << overall.out;
}

// Every user: the system directories under a staging root, with the packed extension and the
// Firefox policy, all readable by every user whatever the umask.
class SystemInstall : public BrowserInstall {
 protected:
  void SetUp() override {
    prefix_.AddHost();
    prefix_.AddExtension("1.2.3");
  }
  Result System(const std::string& command) const {
    return QuillboxIn(prefix_, {"browser", command, "--system", "--root", Root("")});
  }
  std::string ExternalFile() const { return Root("/usr/share/chromium/extensions/" + kChromiumId + ".json"); }
  std::string ChromeExternalFile() const {
    return Root("/usr/share/google-chrome/extensions/" + kChromiumId + ".json");
  }
  const JsonValue* OurPolicy(const JsonValue& policies) const {
    const JsonValue* inner = policies.Member(u"policies");
    const JsonValue* settings = inner != nullptr ? inner->Member(u"ExtensionSettings") : nullptr;
    return settings != nullptr ? settings->Member(u"bridge@quillbox.org") : nullptr;
  }

  Prefix prefix_;
};

TEST_F(SystemInstall, WritesTheSystemManifestsTheExternalExtensionAndThePolicy) {
  const mode_t mask = ::umask(077);
  const Result result = System("install");
  ::umask(mask);
  ASSERT_EQ(result.status, 0) << result.err;
  ExpectHostManifest(Root("/etc/chromium/native-messaging-hosts/" + kManifest), true, prefix_.host());
  ExpectHostManifest(Root("/etc/opt/chrome/native-messaging-hosts/" + kManifest), true, prefix_.host());
  ExpectHostManifest(Root("/usr/lib/mozilla/native-messaging-hosts/" + kManifest), false, prefix_.host());
  EXPECT_EQ(ModeOf(Root("/etc/chromium")), 0755u);
  EXPECT_EQ(ModeOf(Root("/usr/lib/mozilla/native-messaging-hosts")), 0755u);

  for (const std::string& file : {ExternalFile(), ChromeExternalFile()}) {
    SCOPED_TRACE(file);
    const JsonValue external = ParseFile(file);
    EXPECT_EQ(Names(external), (std::vector<std::string>{"external_crx", "external_version"}));
    EXPECT_EQ(Text(external.Member(u"external_crx")), prefix_.browser() + "/quillbox.crx");
    EXPECT_EQ(Text(external.Member(u"external_version")), "1.2.3");
    EXPECT_EQ(ModeOf(file), 0644u);
  }

  const JsonValue policies = ParseFile(PoliciesFile());
  const JsonValue* ours = OurPolicy(policies);
  ASSERT_NE(ours, nullptr) << ReadText(PoliciesFile());
  EXPECT_EQ(Text(ours->Member(u"installation_mode")), "force_installed");
  EXPECT_EQ(Text(ours->Member(u"install_url")), "file://" + prefix_.browser() + "/quillbox.xpi");
  EXPECT_EQ(ModeOf(PoliciesFile()), 0644u);

  // Installing again changes nothing.
  const std::string before = ReadText(PoliciesFile());
  ASSERT_EQ(System("install").status, 0);
  EXPECT_EQ(ReadText(PoliciesFile()), before);

  // Uninstalling removes every file it wrote, the policies file too since only our entry was in it.
  const Result removed = System("uninstall");
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_FALSE(Exists(Root("/etc/chromium/native-messaging-hosts/" + kManifest)));
  EXPECT_FALSE(Exists(Root("/etc/opt/chrome/native-messaging-hosts/" + kManifest)));
  EXPECT_FALSE(Exists(Root("/usr/lib/mozilla/native-messaging-hosts/" + kManifest)));
  EXPECT_FALSE(Exists(ExternalFile()));
  EXPECT_FALSE(Exists(ChromeExternalFile()));
  EXPECT_FALSE(Exists(PoliciesFile()));
}

TEST_F(SystemInstall, AnAdministratorsPoliciesKeepTheirOtherKeys) {
  const std::string administrators =
      "{\"policies\": {\"DisableAppUpdate\": true, \"Homepage\": {\"URL\": \"https://intranet.example/\"},\n"
      "  \"ExtensionSettings\": {\"*\": {\"installation_mode\": \"blocked\"},\n"
      "    \"bridge@quillbox.org\": {\"installation_mode\": \"blocked\"}}},\n"
      " \"comment\": \"kept \\u00e9\"}";
  WriteText(PoliciesFile(), administrators, fs::perms(0640));
  ASSERT_EQ(System("install").status, 0);
  const JsonValue installed = ParseFile(PoliciesFile());
  EXPECT_EQ(Names(installed), (std::vector<std::string>{"policies", "comment"}));
  ASSERT_NE(installed.Member(u"comment")->String(), nullptr);
  EXPECT_EQ(*installed.Member(u"comment")->String(), u"kept \u00e9");
  const JsonValue* policies = installed.Member(u"policies");
  ASSERT_NE(policies, nullptr);
  EXPECT_EQ(Names(*policies), (std::vector<std::string>{"DisableAppUpdate", "Homepage", "ExtensionSettings"}));
  ASSERT_NE(policies->Member(u"DisableAppUpdate")->Bool(), nullptr);
  EXPECT_TRUE(*policies->Member(u"DisableAppUpdate")->Bool());
  EXPECT_EQ(Text(policies->Member(u"Homepage")->Member(u"URL")), "https://intranet.example/");
  EXPECT_EQ(Names(*policies->Member(u"ExtensionSettings")), (std::vector<std::string>{"*", "bridge@quillbox.org"}));
  EXPECT_EQ(Text(OurPolicy(installed)->Member(u"installation_mode")), "force_installed");
  EXPECT_EQ(ModeOf(PoliciesFile()), 0640u);  // the administrator's file keeps its permissions

  ASSERT_EQ(System("uninstall").status, 0);
  ASSERT_TRUE(Exists(PoliciesFile()));
  const JsonValue uninstalled = ParseFile(PoliciesFile());
  EXPECT_EQ(OurPolicy(uninstalled), nullptr);
  EXPECT_EQ(Names(uninstalled), (std::vector<std::string>{"policies", "comment"}));
  EXPECT_EQ(Names(*uninstalled.Member(u"policies")),
            (std::vector<std::string>{"DisableAppUpdate", "Homepage", "ExtensionSettings"}));
  EXPECT_EQ(Names(*uninstalled.Member(u"policies")->Member(u"ExtensionSettings")), (std::vector<std::string>{"*"}));
}

TEST_F(SystemInstall, PoliciesWithoutExtensionSettingsLoseNothingOnUninstall) {
  WriteText(PoliciesFile(), "{\"policies\": {\"DisableTelemetry\": true}}");
  ASSERT_EQ(System("install").status, 0);
  ASSERT_EQ(System("uninstall").status, 0);
  const JsonValue left = ParseFile(PoliciesFile());
  EXPECT_EQ(Names(*left.Member(u"policies")), (std::vector<std::string>{"DisableTelemetry"}));
}

TEST_F(SystemInstall, APoliciesFileThatIsNotJsonIsNamedAndLeftAlone) {
  WriteText(PoliciesFile(), "{\"policies\": {\"DisableTelemetry\": true,}}");
  const Result result = System("install");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(PoliciesFile()), std::string::npos) << result.err;
  EXPECT_EQ(ReadText(PoliciesFile()), "{\"policies\": {\"DisableTelemetry\": true,}}");
  // Checked before anything is written.
  EXPECT_FALSE(Exists(Root("/etc/chromium")));

  WriteText(PoliciesFile(), "{\"policies\": []}");
  EXPECT_EQ(System("install").status, 1);
  EXPECT_EQ(System("uninstall").status, 1);
  EXPECT_EQ(ReadText(PoliciesFile()), "{\"policies\": []}");
}

TEST_F(SystemInstall, RefusesWithoutThePackedExtensions) {
  fs::remove(prefix_.browser() + "/quillbox.crx");
  const Result noCrx = System("install");
  EXPECT_EQ(noCrx.status, 1);
  EXPECT_NE(noCrx.err.find(prefix_.browser() + "/quillbox.crx is missing"), std::string::npos) << noCrx.err;
  EXPECT_FALSE(Exists(Root("")));

  prefix_.AddExtension();
  fs::remove(prefix_.browser() + "/quillbox.xpi");
  const Result noXpi = System("install");
  EXPECT_EQ(noXpi.status, 1);
  EXPECT_NE(noXpi.err.find(prefix_.browser() + "/quillbox.xpi is missing"), std::string::npos) << noXpi.err;

  prefix_.AddExtension();
  WriteText(prefix_.browser() + "/chromium/manifest.json", "{\"name\": \"no version\"}");
  const Result noVersion = System("install");
  EXPECT_EQ(noVersion.status, 1);
  EXPECT_NE(noVersion.err.find("manifest.json"), std::string::npos) << noVersion.err;
  EXPECT_FALSE(Exists(Root("")));
}

}  // namespace
}  // namespace quillbox::host::test
