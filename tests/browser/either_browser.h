// Chromium or Firefox behind one face, for the cases both browsers run alike: open a page in a tab
// of its own, evaluate page-side script in it, close it.
#pragma once

#include "common/json_value.h"
#include "browser/browser_world.h"
#include "browser/firefox_world.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quillbox::browser::test {

enum class Browser { kChromium, kFirefox };

std::string NameOf(Browser browser);

class EitherBrowser {
 public:
  // The browser `which`, started in a world of its own on `display` (none when empty).
  EitherBrowser(Browser which, const std::string& display);
  ~EitherBrowser();
  EitherBrowser(const EitherBrowser&) = delete;
  EitherBrowser& operator=(const EitherBrowser&) = delete;

  // A tab with `url` loaded, closed with the object.
  class Page {
   public:
    Page(EitherBrowser& browser, int id) : browser_(browser), id_(id) {}
    ~Page() { browser_.Close(id_); }
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;
    // Runs `expression` in the page and gives the value its Promise resolves to.
    quillbox::JsonValue Evaluate(const std::string& expression) { return browser_.Evaluate(id_, expression); }

   private:
    EitherBrowser& browser_;
    int id_;
  };
  std::unique_ptr<Page> Open(const std::string& url);

  BridgeWorld& world();
  Browser which() const { return which_; }
  // The host manifest the browser reads for this world's profile.
  std::string HostManifestPath() const;
  void WriteHostManifest();
  // What `quillbox browser install` needs to be told to reach this world's profile.
  std::vector<std::string> InstallOptions() const;

 private:
  quillbox::JsonValue Evaluate(int id, const std::string& expression);
  void Close(int id);

  Browser which_;
  std::unique_ptr<BrowserWorld> chromium_;
  std::unique_ptr<FirefoxWorld> firefox_;
  std::string firefoxHome_;  // the tab Firefox goes back to when one closes
  int nextId_ = 1;
  std::map<int, std::unique_ptr<Tab>> chromiumTabs_;
  std::map<int, std::string> firefoxTabs_;
};

}  // namespace quillbox::browser::test
