// The host's windows reached from a page in each real browser: the browser runs headless on a
// private Xvfb display, the host it starts inherits the display, and xdotool answers the host's
// question about the site and its certificate picker while the page waits for its Promise.
#include "browser/either_browser.h"
#include "browser/page_scripts.h"
#include "common/json_write.h"

#include "dialogs/x_display.h"
#include "support/nss_store.h"
#include "support/temp_dir.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

namespace quillbox::browser::test {
namespace {

using quillbox::JsonValue;
using quillbox::test::WindowAnswerer;
namespace fixture = quillbox::test::fixture;

constexpr const char* kConsentTitle = "Allow this site to sign?";
constexpr const char* kPickerTitle = "Izberite certifikat";

// Answers for the question about the site: its buttons' mnemonics, and Return for the default, Deny.
const std::vector<std::vector<std::string>> kDeny = {{"key", "Return"}};
const std::vector<std::vector<std::string>> kAllowOnce = {{"key", "alt+o"}};
const std::vector<std::vector<std::string>> kAlwaysAllow = {{"key", "alt+w"}};
const std::vector<std::vector<std::string>> kClose = {{"key", "Escape"}};
// The picker: typing a holder's name finds its row, Return chooses it.
const std::vector<std::vector<std::string>> kChooseSecond = {{"type", "Second"}, {"key", "Return"}};

// One Xvfb display for the program, kept to its end.
quillbox::test::XvfbServer* Display() {
  static const std::unique_ptr<quillbox::test::XvfbServer> display = [] {
    if (!quillbox::test::ProgramInstalled("Xvfb") || !quillbox::test::ProgramInstalled("xdotool")) {
      return std::unique_ptr<quillbox::test::XvfbServer>();
    }
    std::string error;
    auto started = quillbox::test::XvfbServer::Start(error);
    if (started) setenv("DISPLAY", started->Display().c_str(), 1);  // for xdotool
    return started;
  }();
  return display.get();
}

// A page server of an origin of its own, which nobody allowed. Each lives to the program's end, so
// that no later one is given the port, and so the origin, that an earlier case allowed.
const PageServer& NewSite() {
  static std::deque<PageServer> sites;
  return sites.emplace_back();
}

// The base64 text between the markers of a PEM file or inside an X509Certificate element, without
// the line breaks and character references that either may carry.
std::string Base64Of(std::string text) {
  std::string clean;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text.compare(at, 5, "&#13;") == 0) {
      at += 4;
    } else if (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '+' || text[at] == '/' ||
               text[at] == '=') {
      clean += text[at];
    }
  }
  return clean;
}

std::string CertificateInPem(const std::string& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const auto from = pem.find(begin);
  const auto to = pem.find("-----END CERTIFICATE-----");
  if (from == std::string::npos || to == std::string::npos) return "(no certificate in " + file + ")";
  return Base64Of(pem.substr(from + begin.size(), to - from - begin.size()));
}

// The certificate the signed document carries in its KeyInfo.
std::string CertificateInDocument(const std::string& document) {
  const auto open = document.find("X509Certificate>");
  if (open == std::string::npos) return "(no X509Certificate)";
  const auto close = document.find("</", open);
  return Base64Of(document.substr(open + 16, close - open - 16));
}

class BrowserDialogs : public ::testing::TestWithParam<Browser> {
 protected:
  void SetUp() override {
    if (Display() == nullptr) GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
    if (!browser_ || browser_->which() != GetParam()) {
      browser_.reset();
      browser_ = std::make_unique<EitherBrowser>(GetParam(), Display()->Display());
    }
  }
  static void TearDownTestSuite() { browser_.reset(); }

  static EitherBrowser& browser() { return *browser_; }
  static BridgeWorld& world() { return browser_->world(); }

  // Evaluates `expression` in `page` while `answerer` answers what the host shows; gives the
  // value and how many windows it answered.
  static JsonValue Answering(EitherBrowser::Page& page, const std::string& expression, const char* title,
                             const std::vector<std::vector<std::string>>& answer, int& answered) {
    WindowAnswerer answerer(title, answer);
    JsonValue value = page.Evaluate(expression);
    answered = answerer.Stop();
    return value;
  }

  static void ExpectVerifiesWith(const std::string& document, const std::string& nickname) {
    const auto verified = world().VerifySignedBy(document, nickname);
    EXPECT_TRUE(verified.ok) << verified.output;
  }

  static inline std::unique_ptr<EitherBrowser> browser_;
};

std::string SignAndReport() { return Async(std::string(kSignForm) + kSignFormAndReport); }

TEST_P(BrowserDialogs, DenyRefusesNamingTheOriginAndTheSameTabIsNotAskedAgain) {
  const PageServer& site = NewSite();
  auto page = browser().Open(BridgeWorld::PageUrlOf(site));
  int asked = 0;
  const JsonValue denied = Answering(*page, Async(std::string(kSignForm) +
      "const r = await s.SignAsync();"
      "const first = {r, no: s.ErrorNo, str: s.ErrorStr, desc: s.ErrorDesc, doc: s.XmlDoc};"
      "const again = await s.SignAsync();"
      "return {...first, again, againNo: s.ErrorNo, origin: location.origin};"),
      kConsentTitle, kDeny, asked);
  EXPECT_EQ(asked, 1) << quillbox::WriteJson(denied);
  EXPECT_FALSE(Flag(denied, u"r"));
  EXPECT_EQ(Number(denied, u"no"), 41);
  EXPECT_EQ(Text(denied, u"str"), "ERR_ACCESS_DENIED");
  EXPECT_NE(Text(denied, u"desc").find(Text(denied, u"origin")), std::string::npos) << Text(denied, u"desc");
  EXPECT_EQ(Text(denied, u"doc"), "<obrazec><ime>Ana \xc5\xbd" "agar</ime></obrazec>") << "nothing was signed";
  EXPECT_FALSE(Flag(denied, u"again"));
  EXPECT_EQ(Number(denied, u"againNo"), 41);
}

TEST_P(BrowserDialogs, AllowOnceSignsAndANewTabIsAskedAgain) {
  const PageServer& site = NewSite();
  {
    auto page = browser().Open(BridgeWorld::PageUrlOf(site));
    int asked = 0;
    const JsonValue once = Answering(*page, Async(std::string(kSignForm) +
        "const r = await s.SignAsync(); const doc = s.XmlDoc;"
        "s.XmlDoc = '<drugi/>'; const second = await s.SignAsync();"
        "return {r, doc, second, str: String(s.ErrorStr)};"),
        kConsentTitle, kAllowOnce, asked);
    EXPECT_EQ(asked, 1) << "asked once for the tab, not at each call";
    ASSERT_TRUE(Flag(once, u"r")) << Text(once, u"str") << Text(once, u"message");
    EXPECT_TRUE(Flag(once, u"second")) << Text(once, u"str");
    ExpectVerifiesWith(Text(once, u"doc"), fixture::kSigner.nickname);
  }
  auto next = browser().Open(BridgeWorld::PageUrlOf(site));
  int asked = 0;
  const JsonValue closed = Answering(*next, SignAndReport(), kConsentTitle, kClose, asked);
  EXPECT_EQ(asked, 1) << "a new tab is asked again";
  EXPECT_FALSE(Flag(closed, u"r"));
  EXPECT_EQ(Number(closed, u"no"), 41) << "the window closed is a refusal";
  EXPECT_EQ(world().world().Read(".config/quillbox/browser-origins").find(Text(closed, u"origin") + "\n"),
            std::string::npos);
}

TEST_P(BrowserDialogs, AlwaysAllowRemembersTheOriginAndTheNextTabIsNotAsked) {
  const PageServer& site = NewSite();
  const std::string origin = "http://127.0.0.1:" + std::to_string(site.port());
  {
    auto page = browser().Open(BridgeWorld::PageUrlOf(site));
    int asked = 0;
    const JsonValue always = Answering(*page, SignAndReport(), kConsentTitle, kAlwaysAllow, asked);
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(Flag(always, u"r")) << Text(always, u"str") << Text(always, u"message");
    ExpectVerifiesWith(Text(always, u"doc"), fixture::kSigner.nickname);
  }
  EXPECT_NE(world().world().Read(".config/quillbox/browser-origins").find(origin + "\n"), std::string::npos);
  // Were the next tab asked, it would be denied: signing shows that it was not.
  auto next = browser().Open(BridgeWorld::PageUrlOf(site));
  int asked = 0;
  const JsonValue served = Answering(*next, SignAndReport(), kConsentTitle, kDeny, asked);
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(Flag(served, u"r")) << Text(served, u"str") << Text(served, u"message");
}

TEST_P(BrowserDialogs, AnOriginTheUserAllowsIsServedAndOneTheUserForbidsIsRefusedWithoutAQuestion) {
  const PageServer& site = NewSite();
  const std::string origin = "http://127.0.0.1:" + std::to_string(site.port());
  const auto allowed = world().world().Quillbox({"browser", "allow", origin});
  ASSERT_EQ(allowed.status, 0) << allowed.err;
  {
    auto page = browser().Open(BridgeWorld::PageUrlOf(site));
    int asked = 0;
    const JsonValue served = Answering(*page, SignAndReport(), kConsentTitle, kDeny, asked);
    EXPECT_EQ(asked, 0) << "an origin the user allowed is not asked about";
    EXPECT_TRUE(Flag(served, u"r")) << Text(served, u"str") << Text(served, u"message");
  }
  const auto denied = world().world().Quillbox({"browser", "deny", origin});
  ASSERT_EQ(denied.status, 0) << denied.err;
  // Were the site asked about, it would be allowed once and sign: the refusal shows it was not.
  auto page = browser().Open(BridgeWorld::PageUrlOf(site));
  int asked = 0;
  const JsonValue refused = Answering(*page, SignAndReport(), kConsentTitle, kAllowOnce, asked);
  EXPECT_EQ(asked, 0) << "an origin the user forbade is refused without a question";
  EXPECT_FALSE(Flag(refused, u"r"));
  EXPECT_EQ(Number(refused, u"no"), 41);
  EXPECT_EQ(Text(refused, u"str"), "ERR_ACCESS_DENIED");
  EXPECT_NE(Text(refused, u"desc").find(origin), std::string::npos) << Text(refused, u"desc");
  EXPECT_EQ(Text(refused, u"doc"), "<obrazec><ime>Ana \xc5\xbd" "agar</ime></obrazec>") << "nothing was signed";
}

TEST_P(BrowserDialogs, ThePickerChosenByKeyboardSignsWithTheChosenCertificate) {
  // The world's own page is allowed ahead: only the picker appears.
  auto page = browser().Open(world().PageUrl());
  int consent = 0;
  int picked = 0;
  JsonValue run;
  {
    WindowAnswerer question(kConsentTitle, kDeny);
    WindowAnswerer picker(kPickerTitle, kChooseSecond);
    run = page->Evaluate(Async(kPickThenSign));
    picked = picker.Stop();
    consent = question.Stop();
  }
  EXPECT_EQ(consent, 0);
  EXPECT_EQ(picked, 1);
  ASSERT_TRUE(Flag(run, u"picked")) << Text(run, u"message") << Number(run, u"pickedNo");
  EXPECT_EQ(Text(run, u"issuer"), fixture::kSecond.issuerText);
  EXPECT_EQ(Text(run, u"serial"), fixture::kSecond.serialText);
  ASSERT_TRUE(Flag(run, u"r")) << Text(run, u"str");
  const std::string document = Text(run, u"doc");

  const quillbox::test::TempDir dir("quillbox-browser-picked");
  EXPECT_EQ(CertificateInDocument(document), CertificateInPem(world().ExportPem(fixture::kSecond.nickname, dir.path())));
  ExpectVerifiesWith(document, fixture::kSecond.nickname);
  EXPECT_FALSE(world().VerifySignedBy(document, fixture::kSigner.nickname).ok)
      << "the document was signed with another certificate's key";
}

// `quillbox browser demo --port 0 --no-open` in the background, serving the example page.
class DemoServer {
 public:
  explicit DemoServer(const BridgeWorld& world) : log_(world.world().Path("demo.log")) {
    pid_ = StartBrowser({std::string(QUILLBOX_BIN_DIR) + "/quillbox", "browser", "demo", "--port", "0", "--no-open"},
                        world.Environment(), log_);
    const std::string marker = "http://127.0.0.1:";
    // It prints its address once it listens.
    for (int attempt = 0; attempt < 600 && origin_.empty(); ++attempt) {
      std::ifstream in(log_);
      std::stringstream text;
      text << in.rdbuf();
      const std::string printed = text.str();
      const auto at = printed.find(marker);
      const auto end = at == std::string::npos ? at : printed.find('/', at + marker.size());
      if (end != std::string::npos) {
        origin_ = printed.substr(at, end - at);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  }
  ~DemoServer() {
    kill(pid_, SIGINT);
    EndBrowser(pid_);
  }
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  const std::string& origin() const { return origin_; }
  const std::string& log() const { return log_; }

 private:
  std::string log_;
  pid_t pid_ = -1;
  std::string origin_;
};

TEST_P(BrowserDialogs, InstallAllowOncePickAndSignTheExamplePage) {
  // The host manifest is the one `quillbox browser install` writes, not the test's.
  struct Restore {
    ~Restore() { browser().WriteHostManifest(); }
  } restore;
  std::filesystem::remove(browser().HostManifestPath());
  std::vector<std::string> install = {"browser", "install"};
  for (const std::string& option : browser().InstallOptions()) install.push_back(option);
  const auto installed = world().world().Quillbox(install);
  ASSERT_EQ(installed.status, 0) << installed.err;
  ASSERT_TRUE(std::filesystem::exists(browser().HostManifestPath())) << installed.out;

  const DemoServer demo(world());
  ASSERT_FALSE(demo.origin().empty()) << world().world().Read("demo.log");
  auto page = browser().Open(demo.origin() + "/");

  int consent = 0;
  int picked = 0;
  JsonValue signedForm;
  {
    WindowAnswerer question(kConsentTitle, kAllowOnce);
    WindowAnswerer picker(kPickerTitle, kChooseSecond);
    signedForm = page->Evaluate(
        PressAndWait("sign-picker", "signed", "(e) => e.textContent.includes('<Signature')"));
    picked = picker.Stop();
    consent = question.Stop();
  }
  EXPECT_EQ(consent, 1) << "the example page's origin is asked about";
  EXPECT_EQ(picked, 1);
  ASSERT_EQ(Text(signedForm, u"error"), "");
  EXPECT_NE(Text(signedForm, u"picked").find(fixture::kSecond.serialText), std::string::npos)
      << Text(signedForm, u"picked");
  const std::string document = Text(signedForm, u"text");
  EXPECT_NE(document.find("<ime>\xc5\xbdiva \xc4\x8c" "eba\xc5\xa1" "ek</ime>"), std::string::npos) << document;
  ExpectVerifiesWith(document, fixture::kSecond.nickname);

  // The page's own check, through the demo server's quillbox verify.
  const JsonValue verdict =
      page->Evaluate(PressAndWait("verify", "verdict", "(e) => e.className.includes('ok') || e.className.includes('bad')"));
  EXPECT_EQ(Text(verdict, u"text"), "Podpis je veljaven.") << world().world().Read("demo.log");
}

// One instantiation a browser, so that each browser runs all its cases before the next starts.
INSTANTIATE_TEST_SUITE_P(Chromium, BrowserDialogs, ::testing::Values(Browser::kChromium));
INSTANTIATE_TEST_SUITE_P(Firefox, BrowserDialogs, ::testing::Values(Browser::kFirefox));

}  // namespace
}  // namespace quillbox::browser::test
