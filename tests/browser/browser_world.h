// The world the browser tests run in: a throwaway HOME with the standard store, a registry and
// the allow file for the test page's origin, a Chromium profile whose native messaging host
// manifest names the built quillbox-native-host, the loopback page server, and one headless
// Chromium with the unpacked extension loaded, driven over the DevTools pipe.
#pragma once

#include "common/json_value.h"
#include "browser/devtools_pipe.h"
#include "browser/page_server.h"
#include "host/command_runner.h"
#include "signing/verifier.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace quillbox::browser::test {

class BrowserWorld;

// One tab, attached by its own DevTools session.
class Tab {
 public:
  Tab(DevToolsBrowser& browser, const std::string& url);
  ~Tab();
  Tab(const Tab&) = delete;
  Tab& operator=(const Tab&) = delete;

  // Evaluates `expression` in the page, waits for the Promise it gives, and returns the value;
  // throws with the exception's text when it throws or rejects.
  quillbox::JsonValue Evaluate(const std::string& expression);
  // The same for an expression started without waiting for it.
  void Start(const std::string& expression);

 private:
  DevToolsBrowser& browser_;
  std::string target_;
  std::string session_;
};

// What both browsers' tests share: the throwaway HOME with the standard store, the registry and
// the allow file for the loopback page's origin, and the page server. With `display` (an X
// display such as ":5") the browser, and so the host with its windows, runs on that display.
class BridgeWorld {
 public:
  explicit BridgeWorld(std::string display = {});

  std::string PageUrl(const std::string& host = "127.0.0.1") const;
  // The test page of another server on the loopback address: an origin of its own.
  static std::string PageUrlOf(const PageServer& server);
  // The environment a browser runs in, and so the host it starts.
  std::vector<std::string> Environment() const;
  // The host processes of this world (their HOME is this world's).
  std::vector<pid_t> HostProcesses() const;
  // The host processes of this world that are not among `before`.
  std::vector<pid_t> NewHostProcesses(const std::vector<pid_t>& before) const;
  // Bytes waiting in the standard input of process `pid` (-1 when it cannot be seen).
  static int WaitingInput(pid_t pid);
  // Exports the certificate `nickname` of this world's store as PEM into `directory`; gives the file.
  std::string ExportPem(const std::string& nickname, const std::string& directory) const;
  // xmlsec1's verdict on `document` with only the key of the certificate `nickname` offered.
  quillbox::test::Verification VerifySignedBy(const std::string& document, const std::string& nickname) const;
  // The built quillbox-native-host as a JSON string.
  static std::string HostProgramJson();
  const host::test::World& world() const { return world_; }

 private:
  host::test::World world_;
  PageServer server_;
  std::string display_;
};

class BrowserWorld : public BridgeWorld {
 public:
  explicit BrowserWorld(std::string display = {});

  std::unique_ptr<Tab> Open(const std::string& url);
  std::unique_ptr<Tab> OpenPage() { return Open(PageUrl()); }

  // The native messaging host manifest in the profile: the right one, none, or one that names
  // another extension.
  void WriteHostManifest(const std::string& allowedOrigin);
  void WriteHostManifest();
  void RemoveHostManifest();
  // Where the manifest lies in the profile, which is `profile` in the world.
  std::string HostManifestPath() const;

 private:
  std::unique_ptr<DevToolsBrowser> browser_;
};

// The member `name` of an evaluated object as text, number or flag (a failed test when absent).
std::string Text(const quillbox::JsonValue& value, std::u16string_view name);
double Number(const quillbox::JsonValue& value, std::u16string_view name);
bool Flag(const quillbox::JsonValue& value, std::u16string_view name);
bool IsNull(const quillbox::JsonValue& value, std::u16string_view name);

}  // namespace quillbox::browser::test
