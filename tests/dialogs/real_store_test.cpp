// ShowCertsDlg end to end: the component opens the personal store (a throwaway NSS database),
// loads the real dialog module by its Windows name, the user chooses in the GTK window or on the
// terminal, and the choice lands in CertIssuerName and CertSerial as the texts the dialog showed.
#include "component/error_report.h"
#include "component/signature.h"
#include "dialogs/child_process.h"
#include "dialogs/window_driver.h"
#include "support/bstr_helpers.h"
#include "support/nss_store.h"
#include "support/module_lock_audit.h"
#include "support/utf_text.h"

#include <gtest/gtest.h>

#include <filesystem>

extern "C" const char* __lsan_default_suppressions() { return quillbox::test::ToolkitLeakSuppressions(); }

namespace quillbox::test {
namespace {

const auto* const kStoreEnvironment = ::testing::AddGlobalTestEnvironment(new StandardStoreEnvironment);
const auto* const kDisplayEnvironment = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

constexpr const char* kTitle = "Izberite certifikat";

std::size_t StoreSize() {
  HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
  std::size_t count = 0;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(store, c))
    ++count;
  CertCloseStore(store, 0);
  return count;
}

class RealStorePicker : public test::ModuleLockAudit {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "C.UTF-8", 1);  // the English texts
    unsetenv("LANGUAGE");
    // The shipped module lives in bin/, beside the component module; this test program does not,
    // so it names bin/ as the search path.
    setenv("QUILLBOX_DLL_PATH", QUILLBOX_BIN_DIR, 1);
    ClearErrorState();
  }
  void TearDown() override {
    ClearErrorState();
    held.Release();
    ModuleLockAudit::TearDown();
  }

  std::string Property(HRESULT (Signature::*get)(BSTR*)) {
    BSTR value = nullptr;
    EXPECT_EQ((object.*get)(&value), S_OK);
    return test::ToUtf8(Take(value).value_or(u"<null>"));
  }

  test::HeldSignature held;
  Signature& object = *held;
};

class RealStoreWindow : public RealStorePicker {
 protected:
  void SetUp() override {
    if (!ProgramInstalled("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb); window tests skipped";
    ASSERT_TRUE(TestDisplay() != nullptr) << TestDisplayError();
    RealStorePicker::SetUp();
  }

  VARIANT_BOOL Show(const Actions& actions, SeenWindow& seen) {
    DialogWatch watch(kTitle);
    Driver driver(watch, kTitle, actions);
    VARIANT_BOOL result = 7;
    EXPECT_EQ(object.ShowCertsDlg(&result), S_OK);
    driver.Join();
    EXPECT_EQ(driver.Problems(), "");
    EXPECT_FALSE(watch.WatchdogFired()) << "the dialog had to be closed by the test's watchdog";
    seen = watch.Window();
    return result;
  }
};

// The picker's model columns: where the key is, the marks, the full issuer name and the serial.
constexpr int kKeyColumn = 3;
constexpr int kMarksColumn = 4;
constexpr int kIssuerColumn = 6;
constexpr int kSerialColumn = 7;

int RowOf(const SeenWindow& seen, const FixtureCertificate& certificate) {
  for (std::size_t i = 0; i < seen.rows.size(); ++i)
    if (seen.rows[i].size() > kSerialColumn && seen.rows[i][kIssuerColumn] == certificate.issuerText &&
        seen.rows[i][kSerialColumn] == certificate.serialText)
      return static_cast<int>(i);
  return -1;
}

TEST_F(RealStoreWindow, ChoosingInTheWindowRecordsTheTextsTheDialogShowed) {
  const std::string screenshot = ArtifactPath("picker-real-store.png");
  SeenWindow seen;
  const VARIANT_BOOL result = Show(
      [&screenshot](Driver& driver, const SeenWindow& shown) {
        driver.Run({"import", "-window", "root", screenshot});
        const int row = RowOf(shown, fixture::kSigner);
        if (row < 0) {
          driver.Fail("the signer's certificate is not listed");
          driver.Run({"xdotool", "key", "Escape"});
          return;
        }
        // From the row the picker selected at first, which need not be the first row.
        for (int i = shown.cursorRow; i < row; ++i) driver.Run({"xdotool", "key", "Down"});
        for (int i = shown.cursorRow; i > row; --i) driver.Run({"xdotool", "key", "Up"});
        driver.Run({"xdotool", "key", "Return"});
      },
      seen);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(Property(&Signature::get_CertIssuerName), fixture::kSigner.issuerText);
  EXPECT_EQ(Property(&Signature::get_CertSerial), "013CFF0A");
  EXPECT_EQ(TheErrorState()->ErrorNo, 0);

  // Every certificate of the store is offered, non-ASCII names included, and nothing else.
  for (const FixtureCertificate& certificate : fixture::kWithKeys)
    EXPECT_GE(RowOf(seen, certificate), 0) << certificate.nickname;
  EXPECT_EQ(seen.rows.size(), StoreSize());
  EXPECT_TRUE(std::filesystem::exists(screenshot));
  // Where the key is, as the store tells it; a valid certificate without a keyUsage is not marked.
  const int signer = RowOf(seen, fixture::kSigner);
  ASSERT_GE(signer, 0);
  EXPECT_EQ(seen.rows[signer][kKeyColumn], "key in \"NSS Certificate DB\"");
  EXPECT_EQ(seen.rows[signer][kMarksColumn], "");
}

TEST_F(RealStoreWindow, EscapeLeavesThePropertiesAndSetsError40) {
  object.put_CertSerial(UniqueBstr::Copy(u"01").get());
  SeenWindow seen;
  EXPECT_EQ(Show([](Driver& driver, const SeenWindow&) { driver.Run({"xdotool", "key", "Escape"}); }, seen),
            VARIANT_FALSE);
  EXPECT_EQ(TheErrorState()->ErrorNo, 40);
  EXPECT_EQ(Property(&Signature::get_CertSerial), "01");
  EXPECT_FALSE(seen.rows.empty());
}

// The details the terminal showed for certificate `number` on request.
std::string DetailsBlock(const std::string& transcript, int number) {
  const auto start = transcript.find("\r\n" + std::to_string(number) + ". ");
  if (start == std::string::npos) return {};
  const auto end = transcript.find("\r\n\r\n", start + 2);
  return transcript.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TEST_F(RealStorePicker, ChoosingOnTheTerminalRecordsTheTextsTheDialogShowed) {
  // NSS is opened in the child only: an NSS session does not survive a fork.
  const TerminalRun run = RunOnTerminal(
      [this] {
        VARIANT_BOOL result = 7;
        object.ShowCertsDlg(&result);
        return "result=" + std::to_string(result) + "\nissuer=" + Property(&Signature::get_CertIssuerName) +
               "\nserial=" + Property(&Signature::get_CertSerial) + "\n";
      },
      {{"empty to cancel: ", "?2\n"}, {"empty to cancel: ", "2\n"}});
  ASSERT_EQ(run.reported.rfind("result=-1\n", 0), 0u) << run.reported << run.transcript;
  const auto field = [&run](const std::string& name) {
    const auto start = run.reported.find(name + "=") + name.size() + 1;
    return run.reported.substr(start, run.reported.find('\n', start) - start);
  };
  const std::string block = DetailsBlock(run.transcript, 2);
  ASSERT_FALSE(block.empty()) << run.transcript;
  EXPECT_NE(block.find("Issued by:     " + field("issuer") + "\r\n"), std::string::npos) << block;
  EXPECT_NE(block.find("Serial number: " + field("serial") + "\r\n"), std::string::npos) << block;
}

}  // namespace
}  // namespace quillbox::test
