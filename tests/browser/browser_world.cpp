#include "browser/browser_world.h"

#include "common/json_write.h"
#include "host/text.h"
#include "support/nss_store.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace quillbox::browser::test {

using quillbox::JsonObject;
using quillbox::JsonValue;

namespace {

const char kExtensionId[] = "epgcjooclppodjeojlgjabiipejpegcp";
const char kChromium[] = "/usr/bin/chromium";

std::string HostProgram() { return std::filesystem::canonical(std::string(QUILLBOX_BIN_DIR) + "/quillbox-native-host"); }

const JsonValue& MemberOf(const JsonValue& value, std::u16string_view name) {
  static const JsonValue kNull;
  const JsonValue* member = value.Member(name);
  if (member == nullptr) {
    ADD_FAILURE() << "no member " << host::Utf16ToUtf8(name);
    return kNull;
  }
  return *member;
}

std::string TextOf(const JsonValue* value) {
  return value != nullptr && value->String() != nullptr ? host::Utf16ToUtf8(*value->String()) : "";
}

}  // namespace

std::string Text(const JsonValue& value, std::u16string_view name) { return TextOf(&MemberOf(value, name)); }
double Number(const JsonValue& value, std::u16string_view name) {
  const double* number = MemberOf(value, name).Number();
  return number != nullptr ? *number : -1e300;
}
bool Flag(const JsonValue& value, std::u16string_view name) {
  const bool* flag = MemberOf(value, name).Bool();
  return flag != nullptr && *flag;
}
bool IsNull(const JsonValue& value, std::u16string_view name) { return MemberOf(value, name).IsNull(); }

Tab::Tab(DevToolsBrowser& browser, const std::string& url) : browser_(browser) {
  target_ = TextOf(browser_.Call("Target.createTarget", {{u"url", JsonValue(host::Utf8ToUtf16(url))}}).Member(u"targetId"));
  session_ = TextOf(browser_.Call("Target.attachToTarget", {{u"targetId", JsonValue(host::Utf8ToUtf16(target_))},
                                                           {u"flatten", JsonValue(true)}})
                        .Member(u"sessionId"));
  // Wait for the page to have loaded. At the browser's start the extension's scripts may not yet
  // be registered for the very first page; it is loaded again then.
  const std::string ready = "document.readyState === 'complete' && location.href === " +
                            quillbox::WriteJson(JsonValue(host::Utf8ToUtf16(url))) +
                            " ? (typeof window.Quillbox === 'object' || !window.isSecureContext ? 'ready' : 'bare') : 'wait'";
  for (int attempt = 0; attempt < 600; ++attempt) {
    std::string state;
    try {
      const JsonValue answer = browser_.Call("Runtime.evaluate", {{u"expression", JsonValue(host::Utf8ToUtf16(ready))},
                                                                  {u"returnByValue", JsonValue(true)}},
                                             session_);
      state = TextOf(answer.Member(u"result") ? answer.Member(u"result")->Member(u"value") : nullptr);
    } catch (const std::runtime_error&) {
      state = "wait";  // the context went with a navigation
    }
    if (state == "ready") return;
    if (state == "bare" && attempt % 20 == 19) {
      browser_.Call("Page.reload", {}, session_);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  throw std::runtime_error("the page " + url + " did not load with window.Quillbox");
}

Tab::~Tab() {
  try {
    browser_.Call("Target.closeTarget", {{u"targetId", JsonValue(host::Utf8ToUtf16(target_))}});
  } catch (const std::exception&) {
    // The browser has gone; nothing left to close.
  }
}

JsonValue Tab::Evaluate(const std::string& expression) {
  const JsonValue answer = browser_.Call("Runtime.evaluate", {{u"expression", JsonValue(host::Utf8ToUtf16(expression))},
                                                              {u"awaitPromise", JsonValue(true)},
                                                              {u"returnByValue", JsonValue(true)}},
                                         session_);
  if (const JsonValue* thrown = answer.Member(u"exceptionDetails")) {
    const JsonValue* exception = thrown->Member(u"exception");
    const std::string description = TextOf(exception ? exception->Member(u"description") : nullptr);
    throw std::runtime_error("the page threw: " + (description.empty() ? TextOf(thrown->Member(u"text")) : description));
  }
  const JsonValue* result = answer.Member(u"result");
  const JsonValue* value = result ? result->Member(u"value") : nullptr;
  return value ? *value : JsonValue();
}

void Tab::Start(const std::string& expression) { Evaluate("void (" + expression + ")"); }

BridgeWorld::BridgeWorld(std::string display) : display_(std::move(display)) {
  std::filesystem::copy(quillbox::test::StandardStore().directory(), world_.Path("nssdb"));
  std::filesystem::create_directories(world_.Path(".config/quillbox"));
  world_.Write(".config/quillbox/browser-origins", "http://127.0.0.1:" + std::to_string(server_.port()) + "\n");
}

std::vector<std::string> BridgeWorld::Environment() const {
  std::vector<std::string> environment = {"HOME=" + world_.dir(), "TMPDIR=" + world_.dir(),
                                          "XDG_CONFIG_HOME=" + world_.Path(".config"),
                                          "XDG_CACHE_HOME=" + world_.Path(".cache"),
                                          "QUILLBOX_NSS_DB=sql:" + world_.Path("nssdb"),
                                          "QUILLBOX_REGISTRY=" + world_.Path("registry.db"), "LANG=C.UTF-8",
                                          "LC_ALL=C.UTF-8"};
  if (!display_.empty()) {
    environment.push_back("DISPLAY=" + display_);
    environment.push_back("NO_AT_BRIDGE=1");  // no accessibility bus for the host's windows here
  }
  for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(keep)) environment.push_back(std::string(keep) + "=" + value);
  }
  return environment;
}

std::string BridgeWorld::ExportPem(const std::string& nickname, const std::string& directory) const {
  const auto store = quillbox::test::NssDatabase::CopyOf(world_.Path("nssdb"));
  const std::string file = directory + "/" + nickname + ".pem";
  store.ExportPem(nickname, file);
  return file;
}

quillbox::test::Verification BridgeWorld::VerifySignedBy(const std::string& document, const std::string& nickname) const {
  const quillbox::test::TempDir dir("quillbox-browser-verify");
  return quillbox::test::VerifyWithXmlsec1(document, ExportPem(nickname, dir.path()));
}

std::string BridgeWorld::HostProgramJson() { return quillbox::WriteJson(JsonValue(host::Utf8ToUtf16(HostProgram()))); }

BrowserWorld::BrowserWorld(std::string display) : BridgeWorld(std::move(display)) {
  if (!std::filesystem::exists(kChromium)) throw std::runtime_error("Chromium is not installed (apt-get install chromium)");
  std::filesystem::create_directories(world().Path("profile/NativeMessagingHosts"));
  WriteHostManifest();
  const std::string extension = std::filesystem::canonical(std::string(QUILLBOX_BIN_DIR) + "/../browser/chromium");
  browser_ = std::make_unique<DevToolsBrowser>(
      std::vector<std::string>{kChromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                               "--no-default-browser-check", "--disable-background-networking",
                               "--disable-component-update", "--disable-sync", "--password-store=basic",
                               "--user-data-dir=" + world().Path("profile"), "--load-extension=" + extension,
                               "--disable-extensions-except=" + extension,
                               "--host-resolver-rules=MAP insecure.test 127.0.0.1",
                               "--disable-features=HttpsUpgrades,HttpsFirstBalancedModeAutoEnable,"
                               "HttpsFirstModeV2ForEngagedSites,HttpsFirstModeIncognito",
                               "about:blank"},
      Environment(), world().Path("chromium.log"));
}

std::string BridgeWorld::PageUrl(const std::string& host) const {
  return "http://" + host + ":" + std::to_string(server_.port()) + "/form.html";
}

std::string BridgeWorld::PageUrlOf(const PageServer& server) {
  return "http://127.0.0.1:" + std::to_string(server.port()) + "/form.html";
}

std::unique_ptr<Tab> BrowserWorld::Open(const std::string& url) { return std::make_unique<Tab>(*browser_, url); }

std::string BrowserWorld::HostManifestPath() const {
  return world().Path("profile/NativeMessagingHosts/org.quillbox.host.json");
}

void BrowserWorld::WriteHostManifest(const std::string& allowedOrigin) {
  world().Write("profile/NativeMessagingHosts/org.quillbox.host.json",
                "{\"name\":\"org.quillbox.host\",\"description\":\"Quillbox\",\"type\":\"stdio\",\"path\":" +
                    HostProgramJson() +
                   ",\"allowed_origins\":[" + quillbox::WriteJson(JsonValue(host::Utf8ToUtf16(allowedOrigin))) + "]}\n");
}

void BrowserWorld::WriteHostManifest() { WriteHostManifest(std::string("chrome-extension://") + kExtensionId + "/"); }

void BrowserWorld::RemoveHostManifest() {
  std::filesystem::remove(HostManifestPath());
}

std::vector<pid_t> BridgeWorld::HostProcesses() const {
  const std::string program = HostProgram();
  const std::string home = "HOME=" + world_.dir();
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path() / "exe", error) != program || error) continue;
    std::ifstream environ(entry.path() / "environ", std::ios::binary);
    std::stringstream text;
    text << environ.rdbuf();
    if (text.str().find(std::string("\0", 1) + home + std::string("\0", 1)) != std::string::npos ||
        text.str().starts_with(home + std::string("\0", 1))) {
      found.push_back(static_cast<pid_t>(std::stoi(name)));
    }
  }
  return found;
}

std::vector<pid_t> BridgeWorld::NewHostProcesses(const std::vector<pid_t>& before) const {
  std::vector<pid_t> added;
  for (pid_t pid : HostProcesses()) {
    if (std::find(before.begin(), before.end(), pid) == before.end()) added.push_back(pid);
  }
  return added;
}

int BridgeWorld::WaitingInput(pid_t pid) {
  const Fd input(open(("/proc/" + std::to_string(pid) + "/fd/0").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (input.get() < 0) return -1;
  int waiting = 0;
  return ioctl(input.get(), FIONREAD, &waiting) == 0 ? waiting : -1;
}

}  // namespace quillbox::browser::test
