// The extension in a real headless Chromium: pages on the loopback server use window.Quillbox,
// which reaches the built quillbox-native-host through native messaging in a world of its own.
#include "browser/browser_world.h"
#include "browser/page_scripts.h"

#include "host/text.h"
#include "support/nss_store.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace quillbox::browser::test {
namespace {

using quillbox::JsonValue;

class ChromiumExtension : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { world_ = std::make_unique<BrowserWorld>(); }
  static void TearDownTestSuite() { world_.reset(); }
  static BrowserWorld& world() { return *world_; }
  static inline std::unique_ptr<BrowserWorld> world_;
};

TEST_F(ChromiumExtension, SignsAFormBySubjectAndXmlsec1Verifies) {
  auto tab = world().OpenPage();
  const JsonValue signedForm = tab->Evaluate(Async(std::string(kSignForm) +
      "const r = await s.SignAsync();"
      "return {r, doc: s.XmlDoc, no: s.ErrorNo, str: s.ErrorStr === null ? 'null' : s.ErrorStr, advanced: s.Advanced};"));
  ASSERT_TRUE(Flag(signedForm, u"r")) << Text(signedForm, u"str") << Text(signedForm, u"message");
  EXPECT_EQ(Number(signedForm, u"no"), 0);
  EXPECT_EQ(Number(signedForm, u"advanced"), -1);
  const std::string document = Text(signedForm, u"doc");
  EXPECT_NE(document.find("<ime>Ana \xc5\xbd" "agar</ime><Signature"), std::string::npos) << document;
  EXPECT_NE(document.find("ana"), std::string::npos);

  const auto verified = world().VerifySignedBy(document, quillbox::test::fixture::kSigner.nickname);
  EXPECT_TRUE(verified.ok) << verified.output;
}

TEST_F(ChromiumExtension, TheApiIsFixedAndHasOnlyTheAsyncMethods) {
  auto tab = world().OpenPage();
  const JsonValue api = tab->Evaluate(Async(
      "const before = window.Quillbox;"
      "try { window.Quillbox = {}; } catch {}"
      "try { delete window.Quillbox; } catch {}"
      "try { Quillbox.createSignature = null; } catch {}"
      "const s = await Quillbox.createSignature();"
      "const missing = ['Sign', 'Transform', 'ShowCertsDlg'].filter((m) => m in s);"
      "const present = ['SignAsync', 'TransformAsync', 'ShowCertsDlgAsync', 'Finalize'].filter((m) => typeof s[m] === 'function');"
      "return {same: window.Quillbox === before, frozen: Object.isFrozen(Quillbox), version: Quillbox.version,"
      "        missing: missing.join(','), present: present.join(','), creates: typeof Quillbox.createSignature};"));
  EXPECT_TRUE(Flag(api, u"same"));
  EXPECT_TRUE(Flag(api, u"frozen"));
  EXPECT_EQ(Text(api, u"version"), "1.0.1.0");
  EXPECT_EQ(Text(api, u"missing"), "");
  EXPECT_EQ(Text(api, u"present"), "SignAsync,TransformAsync,ShowCertsDlgAsync,Finalize");
  EXPECT_EQ(Text(api, u"creates"), "function");
}

TEST_F(ChromiumExtension, AnotherPageScriptCannotTakeOverThePort) {
  auto tab = world().OpenPage();
  // A page script offers a port of its own as the extension's and listens on it: nothing the
  // extension or the page-side object sends reaches it, and signing still goes the right way.
  const JsonValue spoofed = tab->Evaluate(Async(
      "const fake = new MessageChannel(); let heard = 0;"
      "fake.port1.onmessage = () => { heard++; };"
      "window.postMessage({quillboxBridge: 'port'}, '*', [fake.port2]);"
      "await new Promise((r) => setTimeout(r, 0));" +
      std::string(kSignForm) +
      "const r = await s.SignAsync();"
      "return {r, heard};"));
  EXPECT_TRUE(Flag(spoofed, u"r")) << Text(spoofed, u"message");
  EXPECT_EQ(Number(spoofed, u"heard"), 0);
}

TEST_F(ChromiumExtension, TransformAsyncGivesTheResultTextAndLeavesTheDocument) {
  auto tab = world().OpenPage();
  const JsonValue transformed = tab->Evaluate(Async(
      "const s = await Quillbox.createSignature();"
      "s.XmlDoc = '<a><b>\\u010de\\u0161nja</b></a>';"
      "const xsl = '<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">'"
      "  + '<xsl:output method=\"text\"/><xsl:template match=\"/\">[<xsl:value-of select=\"/a/b\"/>]</xsl:template>'"
      "  + '</xsl:stylesheet>';"
      "const text = await s.TransformAsync(xsl);"
      "let nullCode = ''; try { await s.TransformAsync(null); } catch (e) { nullCode = e.code; }"
      "const broken = await s.TransformAsync('<not a stylesheet');"
      "return {text, doc: s.XmlDoc, nullCode, broken, str: s.ErrorStr};"));
  EXPECT_EQ(Text(transformed, u"text"), "[\xc4\x8d" "e\xc5\xa1" "nja]");
  EXPECT_EQ(Text(transformed, u"doc"), "<a><b>\xc4\x8d" "e\xc5\xa1" "nja</b></a>");
  EXPECT_EQ(Text(transformed, u"nullCode"), "QB_DISPATCH");
  EXPECT_EQ(Text(transformed, u"broken"), "");
  EXPECT_EQ(Text(transformed, u"str"), "ERR_PARSING_SCHEMA_XML");
}

TEST_F(ChromiumExtension, PropertiesHaveTheirTypesDefaultsAndRules) {
  auto tab = world().OpenPage();
  const JsonValue fresh = tab->Evaluate(Async(
      "const s = await Quillbox.createSignature();"
      "const strings = ['XmlDoc', 'CertSubject', 'UserName', 'LocalTimeStamp', 'CertIssuerName', 'CertSerial']"
      "  .map((n) => typeof s[n] + ':' + s[n].length).join(',');"
      "let readOnly = 0;"
      "for (const n of ['Version', 'ErrorNo', 'ErrorStr', 'ErrorDesc']) {"
      "  const before = s[n];"
      "  try { (() => { 'use strict'; s[n] = 'x'; })(); } catch (e) { if (e instanceof TypeError && s[n] === before) readOnly++; } }"
      "return {strings, advanced: s.Advanced, option: s.CertFindOption, handle: s.Handle, version: s.Version,"
      "        no: s.ErrorNo, strNull: s.ErrorStr === null, descNull: s.ErrorDesc === null, readOnly,"
      "        sealed: Object.isSealed(s)};"));
  EXPECT_EQ(Text(fresh, u"strings"), "string:0,string:0,string:0,string:0,string:0,string:0");
  EXPECT_EQ(Number(fresh, u"advanced"), 0);
  EXPECT_EQ(Number(fresh, u"option"), 0);
  EXPECT_EQ(Number(fresh, u"handle"), 0);
  EXPECT_EQ(Text(fresh, u"version"), "1.0.1.0");
  EXPECT_EQ(Number(fresh, u"no"), 0);
  EXPECT_TRUE(Flag(fresh, u"strNull"));
  EXPECT_TRUE(Flag(fresh, u"descNull"));
  EXPECT_EQ(Number(fresh, u"readOnly"), 4);
  EXPECT_TRUE(Flag(fresh, u"sealed"));

  // Each put reads back at once what the component holds, and still after the host answered.
  const JsonValue puts = tab->Evaluate(Async(
      "const s = await Quillbox.createSignature();"
      "s.CertSerial = '00ab cd'; s.Handle = 4294967295; s.Advanced = 1; s.CertFindOption = 7;"
      "const now = [s.CertSerial, s.Handle, s.Advanced, s.CertFindOption].join('|');"
      "s.Advanced = true; const truth = s.Advanced; s.CertFindOption = false; const untruth = s.CertFindOption;"
      "s.CertFindOption = 7;"
      "const codes = [];"
      "for (const [n, v] of [['XmlDoc', null], ['XmlDoc', 5], ['Handle', -1], ['Handle', 4294967296],"
      "                      ['Advanced', 32768], ['CertFindOption', 1.5], ['Handle', '3']]) {"
      "  try { s[n] = v; codes.push('none'); } catch (e) { codes.push(e.code); } }"
      "s.Advanced = 1;"
      "s.XmlDoc = '<a/>';"
      "const r = await s.SignAsync();"
      "return {now, truth, untruth, codes: codes.join(','), r, str: s.ErrorStr, no: s.ErrorNo,"
      "        zero: (s.Advanced = 0, s.Advanced),"
      "        after: [s.CertSerial, s.Handle, s.Advanced, s.CertFindOption, s.XmlDoc].join('|')};"));
  // A script's number for the boolean Advanced is a truth value to the dispatch layer: -1.
  EXPECT_EQ(Text(puts, u"now"), "00AB CD|4294967295|-1|7");
  EXPECT_EQ(Number(puts, u"truth"), -1);
  EXPECT_EQ(Number(puts, u"untruth"), 0);
  EXPECT_EQ(Text(puts, u"codes"), "QB_DISPATCH,QB_BAD_VALUE,QB_BAD_VALUE,QB_BAD_VALUE,QB_BAD_VALUE,QB_BAD_VALUE,QB_BAD_VALUE");
  EXPECT_FALSE(Flag(puts, u"r"));
  EXPECT_EQ(Text(puts, u"str"), "ERR_CERT_NOT_FOUND");
  EXPECT_EQ(Number(puts, u"no"), 31);
  EXPECT_EQ(Number(puts, u"zero"), 0);
  EXPECT_EQ(Text(puts, u"after"), "00AB CD|4294967295|0|7|<a/>");
}

TEST_F(ChromiumExtension, NullAndEmptyStayApartAndFinalizeMakesTheStringsNullAgain) {
  auto tab = world().OpenPage();
  const JsonValue run = tab->Evaluate(Async(
      "const s = await Quillbox.createSignature();"
      "s.CertFindOption = 1; s.CertSubject = 'Test Signer'; s.Handle = 9; s.Advanced = -1;"
      "const never = await s.SignAsync(); const neverStr = s.ErrorStr, neverNo = s.ErrorNo;"
      "s.XmlDoc = '';"
      "const empty = await s.SignAsync(); const emptyStr = s.ErrorStr, emptyNo = s.ErrorNo;"
      "s.Finalize();"
      "const now = {no: s.ErrorNo, strNull: s.ErrorStr === null, descNull: s.ErrorDesc === null,"
      "  subject: s.CertSubject, doc: s.XmlDoc, handle: s.Handle, advanced: s.Advanced, option: s.CertFindOption};"
      "s.CertSubject = 'Test Signer';"
      "const again = await s.SignAsync();"
      "return {never, neverStr, neverNo, empty, emptyStr, emptyNo, now, again, againStr: s.ErrorStr};"));
  EXPECT_FALSE(Flag(run, u"never"));
  EXPECT_EQ(Text(run, u"neverStr"), "ERR_XMLDOC_EMPTY");
  EXPECT_EQ(Number(run, u"neverNo"), 34);
  EXPECT_FALSE(Flag(run, u"empty"));
  EXPECT_EQ(Text(run, u"emptyStr"), "ERR_PARSING_XML");
  EXPECT_EQ(Number(run, u"emptyNo"), 13);
  const JsonValue& now = *run.Member(u"now");
  EXPECT_EQ(Number(now, u"no"), 13) << "Finalize leaves the number";
  EXPECT_TRUE(Flag(now, u"strNull"));
  EXPECT_TRUE(Flag(now, u"descNull"));
  EXPECT_EQ(Text(now, u"subject"), "");
  EXPECT_EQ(Text(now, u"doc"), "");
  EXPECT_EQ(Number(now, u"handle"), 9);
  EXPECT_EQ(Number(now, u"advanced"), -1);
  EXPECT_EQ(Number(now, u"option"), 1);
  EXPECT_FALSE(Flag(run, u"again"));
  EXPECT_EQ(Text(run, u"againStr"), "ERR_XMLDOC_EMPTY") << "after Finalize the document is null again, not empty";
}

TEST_F(ChromiumExtension, NulAndUnpairedSurrogatesSurviveTheWayThroughTheHost) {
  auto tab = world().OpenPage();
  const JsonValue run = tab->Evaluate(Async(
      "const s = await Quillbox.createSignature();"
      "const odd = 'a\\ud800b\\udc00c\\udbff\\u0001\\u007f\\uffff\\ud83d\\ude00';"
      "s.UserName = odd; s.LocalTimeStamp = '\\udfff'; s.CertSubject = 'before\\u0000after';"
      "const cutAtOnce = s.CertSubject;"
      "s.CertFindOption = 7; s.XmlDoc = '<a/>';"
      "await s.SignAsync();"  // its answer carries every property as the host holds it
      "const t = await Quillbox.createSignature();"
      "return {cutAtOnce, subject: s.CertSubject, user: s.UserName === odd, stamp: s.LocalTimeStamp === '\\udfff',"
      "        units: Array.from(s.UserName, (c) => c.codePointAt(0).toString(16)).join(' '),"
      "        fresh: t.UserName};"));
  EXPECT_EQ(Text(run, u"cutAtOnce"), "before");
  EXPECT_EQ(Text(run, u"subject"), "before");
  EXPECT_TRUE(Flag(run, u"user")) << Text(run, u"units");
  EXPECT_TRUE(Flag(run, u"stamp"));
  EXPECT_EQ(Text(run, u"fresh"), "");
}

TEST_F(ChromiumExtension, ATenMegabyteDocumentIsSignedAndComesBackInParts) {
  auto tab = world().OpenPage();
  const JsonValue run = tab->Evaluate(Async(
      "const body = '<i>Podatki \\u017e</i>' + ('<i>' + 'x'.repeat(1017) + '</i>').repeat(10240);"
      "const s = await Quillbox.createSignature();"
      "s.XmlDoc = '<doc>' + body + '</doc>'; s.CertFindOption = 1; s.CertSubject = 'Test Signer';"
      "const r = await s.SignAsync();"
      "const doc = s.XmlDoc;"
      "const text = await s.TransformAsync('<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">'"
      "  + '<xsl:output method=\"text\"/><xsl:template match=\"/\"><xsl:value-of select=\"count(/doc/i)\"/></xsl:template>'"
      "  + '</xsl:stylesheet>');"
      "return {r, str: String(s.ErrorStr), kept: doc.includes('<doc>' + body + '<Signature'), length: doc.length,"
      "        text: text === '10241'};"));
  EXPECT_TRUE(Flag(run, u"r")) << Text(run, u"str") << Text(run, u"message");
  EXPECT_TRUE(Flag(run, u"kept"));
  EXPECT_GT(Number(run, u"length"), 10 * 1024 * 1024);
  EXPECT_TRUE(Flag(run, u"text"));
}

TEST_F(ChromiumExtension, DocumentsAroundTheFrameBoundaryTravelWhole) {
  auto tab = world().OpenPage();
  // Requests and answers whose JSON comes to a little under, exactly at and a little over 1 MiB,
  // with characters that the JSON escapes six bytes long near the cut.
  const JsonValue run = tab->Evaluate(Async(
      "const s = await Quillbox.createSignature(); s.CertFindOption = 7;"
      "const wrong = [];"
      "for (let size = 1048576 - 420; size <= 1048576 + 20; size += 17) {"
      "  const doc = '<a>' + 'b'.repeat(size - 20) + '\\u00e9\\u00e9\\ud800' + '</a>';"
      "  s.XmlDoc = doc;"
      "  await s.SignAsync();"
      "  if (s.XmlDoc !== doc) wrong.push(size);"
      "}"
      "return {wrong: wrong.join(','), str: s.ErrorStr};"));
  EXPECT_EQ(Text(run, u"wrong"), "");
  EXPECT_EQ(Text(run, u"str"), "ERR_PARSING_XML");
}

TEST_F(ChromiumExtension, APutMadeWhileAMethodRunsReachesTheHostAfterIt) {
  auto tab = world().OpenPage();
  const JsonValue run = tab->Evaluate(Async(
      "const s = await Quillbox.createSignature(); s.XmlDoc = '<a/>'; s.CertFindOption = 7;"
      "const first = s.SignAsync();"
      "s.XmlDoc = '';"  // made after the call: the call still signs '<a/>', and its answer leaves ''
      "const r = await first; const firstStr = s.ErrorStr, docAfter = s.XmlDoc;"
      "await s.SignAsync();"
      "return {r, firstStr, docAfter, secondStr: s.ErrorStr};"));
  EXPECT_FALSE(Flag(run, u"r"));
  EXPECT_EQ(Text(run, u"firstStr"), "ERR_CERT_NOT_FOUND");
  EXPECT_EQ(Text(run, u"docAfter"), "");
  EXPECT_EQ(Text(run, u"secondStr"), "ERR_PARSING_XML");
}

TEST_F(ChromiumExtension, ShowCertsDlgAsyncWithoutADisplayIsAFailureOfTheComponent) {
  auto tab = world().OpenPage();
  const JsonValue run = tab->Evaluate(Async(
      "const s = await Quillbox.createSignature(); s.CertIssuerName = 'CN=before'; s.CertSerial = '01';"
      "const r = await s.ShowCertsDlgAsync();"
      "return {r, type: typeof r, issuer: s.CertIssuerName, serial: s.CertSerial, no: s.ErrorNo};"));
  EXPECT_EQ(Text(run, u"type"), "boolean") << Text(run, u"message");
  EXPECT_FALSE(Flag(run, u"r"));
  EXPECT_EQ(Text(run, u"issuer"), "CN=before");
  EXPECT_EQ(Text(run, u"serial"), "01");
  EXPECT_NE(Number(run, u"no"), 0);
}

TEST_F(ChromiumExtension, ObjectsOfOnePageShareTheErrorStateAndTabsDoNot) {
  auto first = world().OpenPage();
  const JsonValue shared = first->Evaluate(Async(
      "const a = await Quillbox.createSignature(), b = await Quillbox.createSignature();"
      "const r = await a.SignAsync();"
      "const seen = [b.ErrorNo, b.ErrorStr].join('|');"
      "window.kept = a;"
      "const c = await Quillbox.createSignature();"
      "return {r, seen, afterCreate: [a.ErrorNo, String(a.ErrorStr), String(c.ErrorDesc)].join('|')};"));
  EXPECT_FALSE(Flag(shared, u"r"));
  EXPECT_EQ(Text(shared, u"seen"), "34|ERR_XMLDOC_EMPTY");
  EXPECT_EQ(Text(shared, u"afterCreate"), "34|null|null");

  auto second = world().OpenPage();
  const JsonValue other = second->Evaluate(Async(
      "const s = await Quillbox.createSignature(); const fresh = s.ErrorNo;"
      "s.XmlDoc = ''; s.CertFindOption = 1; s.CertSubject = 'x';"
      "await s.SignAsync();"
      "return {fresh, no: s.ErrorNo};"));
  EXPECT_EQ(Number(other, u"fresh"), 0);
  EXPECT_EQ(Number(other, u"no"), 13);
  // The first tab's host still holds its own failure.
  const JsonValue back = first->Evaluate(Async("const d = await Quillbox.createSignature(); return {no: d.ErrorNo};"));
  EXPECT_EQ(Number(back, u"no"), 34);
}

TEST_F(ChromiumExtension, AHostKilledInACallRejectsItAndTheNextCallStartsANewHost) {
  const std::vector<pid_t> before = world().HostProcesses();
  auto tab = world().OpenPage();
  tab->Evaluate(Async(std::string(kSignForm) + kPutsAnswered + "window.s = s; return {};"));
  const std::vector<pid_t> started = world().NewHostProcesses(before);
  ASSERT_EQ(started.size(), 1u);
  const pid_t host = started.front();

  // Held still, the host cannot answer; once the call's request waits in its input it dies.
  ASSERT_EQ(kill(host, SIGSTOP), 0);
  tab->Start("window.pending = window.s.SignAsync().then((r) => ({r}), (e) => ({code: e.code, message: e.message}))");
  int waiting = 0;
  for (int attempt = 0; attempt < 2000 && (waiting = BridgeWorld::WaitingInput(host)) <= 0; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(waiting, 0) << "the call never reached the host";
  ASSERT_EQ(kill(host, SIGKILL), 0);
  const JsonValue crashed = tab->Evaluate("window.pending");
  EXPECT_EQ(Text(crashed, u"code"), "QB_HOST_CRASHED") << Text(crashed, u"message");

  // The same object goes on in a new host, with the values the page gave it.
  const JsonValue next = tab->Evaluate(Async(
      "const r = await window.s.SignAsync();"
      "return {r, str: String(s.ErrorStr), signed: s.XmlDoc.includes('<Signature'), handle: s.Handle};"));
  EXPECT_TRUE(Flag(next, u"r")) << Text(next, u"str") << Text(next, u"message");
  EXPECT_TRUE(Flag(next, u"signed"));
  const std::vector<pid_t> after = world().NewHostProcesses(before);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_NE(after.front(), host);
}

TEST_F(ChromiumExtension, NoHostManifestOrOneForAnotherExtensionIsAMissingHost) {
  struct Restore {
    ~Restore() { world().WriteHostManifest(); }
  } restore;
  for (const bool foreign : {false, true}) {
    if (foreign) {
      world().WriteHostManifest("chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/");
    } else {
      world().RemoveHostManifest();
    }
    auto tab = world().OpenPage();
    const JsonValue missing = tab->Evaluate(Async("await Quillbox.createSignature(); return {code: 'none'};"));
    EXPECT_EQ(Text(missing, u"code"), "QB_HOST_MISSING") << foreign;
    EXPECT_NE(Text(missing, u"message").find("quillbox browser install"), std::string::npos) << Text(missing, u"message");
  }
  world().WriteHostManifest();
  auto tab = world().OpenPage();
  const JsonValue found = tab->Evaluate(Async("const s = await Quillbox.createSignature(); return {v: s.Version};"));
  EXPECT_EQ(Text(found, u"v"), "1.0.1.0");
}

TEST_F(ChromiumExtension, AnInsecurePageIsRefusedAndTheHostHearsTheBrowsersOrigin) {
  auto insecure = world().Open(world().PageUrl("insecure.test"));
  const JsonValue refused = insecure->Evaluate(Async(
      "if (window.isSecureContext) return {code: 'secure?'};"
      "await Quillbox.createSignature(); return {code: 'none'};"));
  EXPECT_EQ(Text(refused, u"code"), "QB_NOT_SECURE");

  // localhost is a secure context but not in the allow file: the host names the origin the
  // browser gave, whatever the page might claim.
  auto other = world().Open(world().PageUrl("localhost"));
  const JsonValue denied = other->Evaluate(Async(std::string(kSignForm) +
      "const r = await s.SignAsync(); return {r, no: s.ErrorNo, str: s.ErrorStr, desc: s.ErrorDesc, origin: location.origin};"));
  EXPECT_FALSE(Flag(denied, u"r"));
  EXPECT_EQ(Number(denied, u"no"), 41);
  EXPECT_EQ(Text(denied, u"str"), "ERR_ACCESS_DENIED");
  EXPECT_NE(Text(denied, u"desc").find(Text(denied, u"origin")), std::string::npos) << Text(denied, u"desc");
}

}  // namespace
}  // namespace quillbox::browser::test
