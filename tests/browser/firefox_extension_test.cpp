// The extension in a real headless Firefox ESR: the same page-side calls as in Chromium, through
// Firefox's own content scripts, messaging and native host launching.
#include "browser/firefox_world.h"
#include "browser/page_scripts.h"

#include "support/nss_store.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace quillbox::browser::test {
namespace {

using quillbox::JsonValue;

class FirefoxExtension : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    world_ = std::make_unique<FirefoxWorld>();
    home_ = world_->OpenTab(world_->PageUrl());
  }
  static void TearDownTestSuite() { world_.reset(); }
  void SetUp() override { world().SwitchTo(home_); }
  static FirefoxWorld& world() { return *world_; }
  static inline std::unique_ptr<FirefoxWorld> world_;
  static inline std::string home_;
};

TEST_F(FirefoxExtension, SignsAFormBySubjectAndXmlsec1Verifies) {
  const JsonValue signedForm = world().Evaluate(Async(std::string(kSignForm) +
      "const r = await s.SignAsync();"
      "return {r, doc: s.XmlDoc, no: s.ErrorNo, str: String(s.ErrorStr), version: Quillbox.version,"
      "        noSync: ['Sign', 'Transform', 'ShowCertsDlg'].filter((m) => m in s).length};"));
  ASSERT_TRUE(Flag(signedForm, u"r")) << Text(signedForm, u"str") << Text(signedForm, u"message");
  EXPECT_EQ(Number(signedForm, u"no"), 0);
  EXPECT_EQ(Text(signedForm, u"version"), "1.0.1.0");
  EXPECT_EQ(Number(signedForm, u"noSync"), 0);
  const std::string document = Text(signedForm, u"doc");
  EXPECT_NE(document.find("<ime>Ana \xc5\xbd" "agar</ime><Signature"), std::string::npos) << document;

  const auto verified = world().VerifySignedBy(document, quillbox::test::fixture::kSigner.nickname);
  EXPECT_TRUE(verified.ok) << verified.output;
}

TEST_F(FirefoxExtension, NulUnpairedSurrogatesNullAndEmptySurviveTheWayThroughTheHost) {
  const JsonValue run = world().Evaluate(Async(
      "const s = await Quillbox.createSignature();"
      "const odd = 'a\\ud800b\\udc00c\\udbff\\u0001\\uffff\\ud83d\\ude00';"
      "s.UserName = odd; s.CertSubject = 'before\\u0000after'; s.CertFindOption = 1;"
      "const never = await s.SignAsync(); const neverStr = s.ErrorStr;"
      "s.XmlDoc = '';"
      "await s.SignAsync(); const emptyStr = s.ErrorStr;"
      "s.Finalize(); const finalized = s.ErrorStr === null && s.UserName === '';"
      "s.CertSubject = 'x'; await s.SignAsync();"
      "return {never, neverStr, emptyStr, user: s.UserName === '', finalized, again: s.ErrorStr};"));
  EXPECT_FALSE(Flag(run, u"never"));
  EXPECT_EQ(Text(run, u"neverStr"), "ERR_XMLDOC_EMPTY");
  EXPECT_EQ(Text(run, u"emptyStr"), "ERR_PARSING_XML");
  EXPECT_TRUE(Flag(run, u"finalized"));
  EXPECT_EQ(Text(run, u"again"), "ERR_XMLDOC_EMPTY");

  const JsonValue units = world().Evaluate(Async(
      "const s = await Quillbox.createSignature();"
      "const odd = 'a\\ud800b\\udc00c\\udbff\\u0001\\uffff\\ud83d\\ude00';"
      "s.UserName = odd; s.CertSubject = 'before\\u0000after'; s.CertFindOption = 7; s.XmlDoc = '<a/>';"
      "await s.SignAsync();"
      "return {user: s.UserName === odd, subject: s.CertSubject, str: s.ErrorStr};"));
  EXPECT_TRUE(Flag(units, u"user"));
  EXPECT_EQ(Text(units, u"subject"), "before");
  EXPECT_EQ(Text(units, u"str"), "ERR_CERT_NOT_FOUND");
}

TEST_F(FirefoxExtension, ATenMegabyteDocumentIsSignedAndTransformed) {
  const JsonValue run = world().Evaluate(Async(
      "const body = '<i>Podatki \\u017e</i>' + ('<i>' + 'x'.repeat(1017) + '</i>').repeat(10240);"
      "const s = await Quillbox.createSignature();"
      "s.XmlDoc = '<doc>' + body + '</doc>'; s.CertFindOption = 1; s.CertSubject = 'Test Signer';"
      "const r = await s.SignAsync();"
      "const text = await s.TransformAsync('<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">'"
      "  + '<xsl:output method=\"text\"/><xsl:template match=\"/\"><xsl:value-of select=\"count(/doc/i)\"/></xsl:template>'"
      "  + '</xsl:stylesheet>');"
      "return {r, str: String(s.ErrorStr), kept: s.XmlDoc.includes('<doc>' + body + '<Signature'), text};"));
  EXPECT_TRUE(Flag(run, u"r")) << Text(run, u"str");
  EXPECT_TRUE(Flag(run, u"kept"));
  EXPECT_EQ(Text(run, u"text"), "10241");
}

TEST_F(FirefoxExtension, ObjectsOfOnePageShareTheErrorStateAndTabsDoNot) {
  const JsonValue shared = world().Evaluate(Async(
      "const a = await Quillbox.createSignature(), b = await Quillbox.createSignature();"
      "await a.SignAsync();"
      "return {seen: [b.ErrorNo, b.ErrorStr].join('|')};"));
  EXPECT_EQ(Text(shared, u"seen"), "34|ERR_XMLDOC_EMPTY");
  const std::string other = world().OpenTab(world().PageUrl());
  const JsonValue fresh = world().Evaluate(Async("const s = await Quillbox.createSignature(); return {no: s.ErrorNo};"));
  EXPECT_EQ(Number(fresh, u"no"), 0);
  world().CloseTab(home_);
  (void)other;
  const JsonValue back = world().Evaluate(Async("const d = await Quillbox.createSignature(); return {no: d.ErrorNo};"));
  EXPECT_EQ(Number(back, u"no"), 34);
}

TEST_F(FirefoxExtension, AHostKilledInACallRejectsItAndTheNextCallStartsANewHost) {
  const std::vector<pid_t> before = world().HostProcesses();
  const std::string home = home_;
  world().OpenTab(world().PageUrl());
  world().Evaluate(Async(std::string(kSignForm) + kPutsAnswered + "window.s = s; return {};"));
  const std::vector<pid_t> started = world().NewHostProcesses(before);
  ASSERT_EQ(started.size(), 1u);
  const pid_t host = started.front();
  ASSERT_EQ(kill(host, SIGSTOP), 0);
  world().Evaluate("void (window.pending = window.s.SignAsync().then((r) => ({r}), (e) => ({code: e.code})))");
  int waiting = 0;
  for (int attempt = 0; attempt < 2000 && (waiting = BridgeWorld::WaitingInput(host)) <= 0; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(waiting, 0) << "the call never reached the host";
  ASSERT_EQ(kill(host, SIGKILL), 0);
  const JsonValue crashed = world().Evaluate("window.pending");
  const JsonValue next = world().Evaluate(Async(
      "const r = await window.s.SignAsync(); return {r, signed: s.XmlDoc.includes('<Signature')};"));
  world().CloseTab(home);
  EXPECT_EQ(Text(crashed, u"code"), "QB_HOST_CRASHED");
  EXPECT_TRUE(Flag(next, u"r"));
  EXPECT_TRUE(Flag(next, u"signed"));
}

TEST_F(FirefoxExtension, NoHostManifestOrOneForAnotherExtensionIsAMissingHost) {
  for (const bool foreign : {false, true}) {
    if (foreign) {
      world().WriteHostManifest("someone-else@example.org");
    } else {
      world().RemoveHostManifest();
    }
    world().OpenTab(world().PageUrl());
    const JsonValue missing = world().Evaluate(Async("await Quillbox.createSignature(); return {code: 'none'};"));
    world().WriteHostManifest();
    world().CloseTab(home_);
    EXPECT_EQ(Text(missing, u"code"), "QB_HOST_MISSING") << foreign << Text(missing, u"message");
    EXPECT_NE(Text(missing, u"message").find("quillbox browser install"), std::string::npos);
  }
}

TEST_F(FirefoxExtension, AnInsecurePageIsRefusedAndWithoutADisplayAnOriginNotAllowedIsDenied) {
  world().OpenTab(world().PageUrl("insecure.test"));
  const JsonValue refused = world().Evaluate(Async(
      "if (window.isSecureContext) return {code: 'secure?'};"
      "await Quillbox.createSignature(); return {code: 'none'};"));
  world().CloseTab(home_);
  EXPECT_EQ(Text(refused, u"code"), "QB_NOT_SECURE");

  // localhost is a secure context but not in the allow file, and this host has no display to
  // ask on: refused, naming the origin the browser gave.
  world().OpenTab(world().PageUrl("localhost"));
  const JsonValue denied = world().Evaluate(Async(std::string(kSignForm) + kSignFormAndReport));
  world().CloseTab(home_);
  EXPECT_FALSE(Flag(denied, u"r"));
  EXPECT_EQ(Number(denied, u"no"), 41);
  EXPECT_EQ(Text(denied, u"str"), "ERR_ACCESS_DENIED");
  EXPECT_NE(Text(denied, u"desc").find(Text(denied, u"origin")), std::string::npos) << Text(denied, u"desc");
  EXPECT_EQ(Text(denied, u"doc"), "<obrazec><ime>Ana \xc5\xbd" "agar</ime></obrazec>") << "nothing was signed";
}

}  // namespace
}  // namespace quillbox::browser::test
