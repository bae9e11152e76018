// Firefox ESR headless under Marionette, in the world the bridge's browser tests share, with the
// built extension installed as a temporary add-on and the native messaging host manifest in
// $HOME/.mozilla/native-messaging-hosts/.
#pragma once

#include "common/json_value.h"
#include "browser/browser_world.h"
#include "browser/marionette.h"

#include <memory>
#include <string>

namespace quillbox::browser::test {

class FirefoxWorld : public BridgeWorld {
 public:
  explicit FirefoxWorld(std::string display = {});

  // Opens `url` in a new tab and makes it the current one; gives the tab's handle.
  std::string OpenTab(const std::string& url);
  void SwitchTo(const std::string& handle);
  // The handle of the current tab.
  std::string CurrentTab();
  // Closes the current tab and goes back to `next`.
  void CloseTab(const std::string& next);
  // Evaluates `expression` in the current tab's page and returns the value its Promise gives.
  quillbox::JsonValue Evaluate(const std::string& expression);

  void WriteHostManifest(const std::string& allowedExtension = "bridge@quillbox.org");
  void RemoveHostManifest();
  std::string HostManifestPath() const;

 private:
  void Load(const std::string& url);
  std::unique_ptr<MarionetteBrowser> browser_;
};

}  // namespace quillbox::browser::test
