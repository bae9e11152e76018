#include "browser/either_browser.h"

#include <exception>

namespace quillbox::browser::test {

std::string NameOf(Browser browser) { return browser == Browser::kChromium ? "Chromium" : "Firefox"; }

EitherBrowser::EitherBrowser(Browser which, const std::string& display) : which_(which) {
  if (which_ == Browser::kChromium) {
    chromium_ = std::make_unique<BrowserWorld>(display);
  } else {
    firefox_ = std::make_unique<FirefoxWorld>(display);
    firefoxHome_ = firefox_->CurrentTab();
  }
}

EitherBrowser::~EitherBrowser() = default;

std::unique_ptr<EitherBrowser::Page> EitherBrowser::Open(const std::string& url) {
  const int id = nextId_++;
  if (chromium_) {
    chromiumTabs_.emplace(id, chromium_->Open(url));
  } else {
    firefoxTabs_.emplace(id, firefox_->OpenTab(url));
  }
  return std::make_unique<Page>(*this, id);
}

quillbox::JsonValue EitherBrowser::Evaluate(int id, const std::string& expression) {
  if (chromium_) return chromiumTabs_.at(id)->Evaluate(expression);
  firefox_->SwitchTo(firefoxTabs_.at(id));
  return firefox_->Evaluate(expression);
}

void EitherBrowser::Close(int id) {
  if (chromium_) {
    chromiumTabs_.erase(id);
    return;
  }
  const auto tab = firefoxTabs_.find(id);
  if (tab == firefoxTabs_.end()) return;
  try {
    firefox_->SwitchTo(tab->second);
    firefox_->CloseTab(firefoxHome_);
  } catch (const std::exception&) {
    // Firefox has gone; there is no tab left to close.
  }
  firefoxTabs_.erase(tab);
}

BridgeWorld& EitherBrowser::world() {
  if (chromium_) return *chromium_;
  return *firefox_;
}

std::string EitherBrowser::HostManifestPath() const {
  return chromium_ ? chromium_->HostManifestPath() : firefox_->HostManifestPath();
}

void EitherBrowser::WriteHostManifest() {
  if (chromium_) {
    chromium_->WriteHostManifest();
  } else {
    firefox_->WriteHostManifest();
  }
}

std::vector<std::string> EitherBrowser::InstallOptions() const {
  // Chromium started with --user-data-dir looks for user-level manifests in that profile.
  if (chromium_) return {"--chromium-user-data-dir", chromium_->world().Path("profile")};
  return {};
}

}  // namespace quillbox::browser::test
