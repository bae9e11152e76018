#include "browser/firefox_world.h"

#include "common/json_write.h"
#include "host/text.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <utility>

namespace quillbox::browser::test {

using quillbox::JsonObject;
using quillbox::JsonValue;

namespace {

const char kFirefox[] = "/usr/bin/firefox-esr";

const char kPreferences[] =
    "user_pref(\"marionette.port\", 0);\n"
    "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
    "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
    "user_pref(\"browser.startup.page\", 0);\n"
    "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
    "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
    "user_pref(\"app.update.disabledForTesting\", true);\n"
    "user_pref(\"browser.safebrowsing.update.enabled\", false);\n"
    "user_pref(\"extensions.update.enabled\", false);\n"
    "user_pref(\"dom.security.https_only_mode\", false);\n"
    "user_pref(\"dom.security.https_first\", false);\n"
    "user_pref(\"dom.security.https_first_schemeless\", false);\n"
    "user_pref(\"network.dns.localDomains\", \"insecure.test\");\n"
    "user_pref(\"network.proxy.type\", 0);\n";

std::string TextOf(const JsonValue* value) {
  return value != nullptr && value->String() != nullptr ? host::Utf16ToUtf8(*value->String()) : "";
}

JsonValue Str(const std::string& text) { return JsonValue(host::Utf8ToUtf16(text)); }

}  // namespace

FirefoxWorld::FirefoxWorld(std::string display) : BridgeWorld(std::move(display)) {
  if (!std::filesystem::exists(kFirefox)) throw std::runtime_error("Firefox is not installed (apt-get install firefox-esr)");
  std::filesystem::create_directories(world().Path("firefox-profile"));
  world().Write("firefox-profile/user.js", kPreferences);
  std::filesystem::create_directories(world().Path(".mozilla/native-messaging-hosts"));
  WriteHostManifest();
  browser_ = std::make_unique<MarionetteBrowser>(
      std::vector<std::string>{kFirefox, "--headless", "--marionette", "--no-remote", "--profile",
                               world().Path("firefox-profile"), "about:blank"},
      Environment(), world().Path("firefox.log"), world().Path("firefox-profile"));
  browser_->Call("WebDriver:SetTimeouts", {{u"script", JsonValue(120000)}, {u"pageLoad", JsonValue(120000)}});
  const std::string extension = std::filesystem::canonical(std::string(QUILLBOX_BIN_DIR) + "/../browser/quillbox.xpi");
  browser_->Call("Addon:Install", {{u"path", Str(extension)}, {u"temporary", JsonValue(true)}});
}

void FirefoxWorld::Load(const std::string& url) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    browser_->Call("WebDriver:Navigate", {{u"url", Str(url)}});
    const JsonValue ready = Evaluate("typeof window.Quillbox === 'object' || !window.isSecureContext");
    if (ready.Bool() != nullptr && *ready.Bool()) return;
    // The add-on's scripts may be registered a moment after its installation.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  throw std::runtime_error("the page " + url + " did not load with window.Quillbox");
}

std::string FirefoxWorld::OpenTab(const std::string& url) {
  const std::string handle = TextOf(browser_->Call("WebDriver:NewWindow", {{u"type", Str("tab")}}).Member(u"handle"));
  SwitchTo(handle);
  Load(url);
  return handle;
}

void FirefoxWorld::SwitchTo(const std::string& handle) {
  browser_->Call("WebDriver:SwitchToWindow", {{u"handle", Str(handle)}, {u"focus", JsonValue(true)}});
}

std::string FirefoxWorld::CurrentTab() {
  const JsonValue answer = browser_->Call("WebDriver:GetWindowHandle");
  return TextOf(answer.Member(u"value"));
}

void FirefoxWorld::CloseTab(const std::string& next) {
  browser_->Call("WebDriver:CloseWindow");
  SwitchTo(next);
}

JsonValue FirefoxWorld::Evaluate(const std::string& expression) {
  const std::string script = "const done = arguments[arguments.length - 1];"
                             "Promise.resolve(" + expression + ").then(done, (e) => done({thrown: String(e)}));";
  const JsonValue answer = browser_->Call("WebDriver:ExecuteAsyncScript", {{u"script", Str(script)},
                                                                          {u"args", JsonValue(quillbox::JsonArray{})}});
  const JsonValue* value = answer.Member(u"value");
  return value ? *value : JsonValue();
}

void FirefoxWorld::WriteHostManifest(const std::string& allowedExtension) {
  world().Write(".mozilla/native-messaging-hosts/org.quillbox.host.json",
                "{\"name\":\"org.quillbox.host\",\"description\":\"Quillbox\",\"type\":\"stdio\",\"path\":" +
                    HostProgramJson() + ",\"allowed_extensions\":[" +
                    quillbox::WriteJson(Str(allowedExtension)) + "]}\n");
}

std::string FirefoxWorld::HostManifestPath() const {
  return world().Path(".mozilla/native-messaging-hosts/org.quillbox.host.json");
}

void FirefoxWorld::RemoveHostManifest() { std::filesystem::remove(HostManifestPath()); }

}  // namespace quillbox::browser::test
