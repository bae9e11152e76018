// Which databases make the personal store: Chromium's and Firefox's default profile's, found from
// HOME (a temporary one here), or the one --store names.
#include "platform/crypt32/quillbox_process.h"
#include "platform/crypt32/softhsm_token.h"
#include "support/process.h"

#include <windows.h>
#include <wincrypt.h>
#include <qbcrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace quillbox::test {
namespace {

constexpr const char* kDocument = "<form><name>Ana</name></form>\n";

// An empty-password database at `directory` holding one openssl-issued certificate with its key.
void MakeDatabaseAt(const std::string& directory, const std::string& name, const std::string& subject) {
  std::filesystem::create_directories(directory);
  Require(RunCommand({"certutil", "-N", "-d", "sql:" + directory, "--empty-password"}), "certutil -N");
  const std::string p12 = MakePkcs12(directory, name, subject, "x");
  Require(RunCommand({"pk12util", "-i", p12, "-d", "sql:" + directory, "-W", "x", "-K", ""}), "pk12util -i");
}

struct Databases {
  std::vector<QB_CRYPT_STORE_DATABASE> entries;
  std::string Describe() const {
    std::string text;
    for (const auto& entry : entries)
      text += std::string(entry.label) + "=" + entry.location + (entry.exists ? " (exists)" : "") + "\n";
    return text;
  }
};

// What the platform makes the store of, with HOME and QUILLBOX_NSS_DB as given.
Databases StoreDatabases(const std::string& home, const char* configured = nullptr) {
  setenv("HOME", home.c_str(), 1);
  if (configured != nullptr) {
    setenv("QUILLBOX_NSS_DB", configured, 1);
  } else {
    unsetenv("QUILLBOX_NSS_DB");
  }
  Databases databases;
  for (DWORD i = 0;; ++i) {
    QB_CRYPT_STORE_DATABASE entry{};
    entry.cbSize = sizeof entry;
    if (!QbCryptStoreDatabase(i, &entry)) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
      break;
    }
    databases.entries.push_back(entry);
  }
  unsetenv("QUILLBOX_NSS_DB");
  return databases;
}

class FirefoxProfiles : public ::testing::Test {
 protected:
  std::string Firefox() const { return home_ / ".mozilla/firefox"; }
  void Ini(const std::string& name, const std::string& text) const {
    std::filesystem::create_directories(Firefox());
    WriteFile(Firefox() + "/" + name, text);
  }
  std::string FirefoxLocation(const char* configured = nullptr) const {
    for (const auto& entry : StoreDatabases(home_.path(), configured).entries) {
      if (std::string(entry.label) == "Firefox") return entry.location;
    }
    return "(none listed)";
  }
  TempDir home_{"quillbox-firefox-home"};
};

TEST_F(FirefoxProfiles, ChromiumFirstThenFirefoxsDefaultProfile) {
  Ini("profiles.ini",
      "[Profile1]\nName=work\nIsRelative=1\nPath=abcd.work\n\n[Profile0]\nName=default\nIsRelative=1\n"
      "Path=wxyz.default\nDefault=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n");
  const Databases databases = StoreDatabases(home_.path());
  ASSERT_EQ(databases.entries.size(), 2u) << databases.Describe();
  EXPECT_STREQ(databases.entries[0].label, "Chromium");
  EXPECT_EQ(std::string(databases.entries[0].location), "sql:" + home_.path() + "/.pki/nssdb");
  EXPECT_STREQ(databases.entries[1].label, "Firefox");
  EXPECT_EQ(std::string(databases.entries[1].location), "sql:" + Firefox() + "/wxyz.default");
  EXPECT_FALSE(databases.entries[0].exists);
  EXPECT_FALSE(databases.entries[1].exists);
}

TEST_F(FirefoxProfiles, TheInstallsDefaultWinsOverTheProfileList) {
  Ini("profiles.ini", "[Profile0]\nName=old\nIsRelative=1\nPath=old.default\nDefault=1\n\n"
                      "[Profile1]\nName=new\nIsRelative=1\nPath=new.default-release\n");
  Ini("installs.ini", "[308046B0AF4A39CB]\r\nDefault=new.default-release\r\nLocked=1\r\n");
  EXPECT_EQ(FirefoxLocation(), "sql:" + Firefox() + "/new.default-release");
  // Older installs.ini-less Firefox versions write the install into profiles.ini itself.
  std::filesystem::remove(Firefox() + "/installs.ini");
  Ini("profiles.ini", "[Install308046B0AF4A39CB]\nDefault=new.default-release\nLocked=1\n\n"
                      "[Profile0]\nName=old\nIsRelative=1\nPath=old.default\nDefault=1\n");
  EXPECT_EQ(FirefoxLocation(), "sql:" + Firefox() + "/new.default-release");
}

TEST_F(FirefoxProfiles, AbsoluteAndOnlyProfiles) {
  Ini("profiles.ini", "[Profile0]\nName=elsewhere\nIsRelative=0\nPath=/srv/profiles/ana\n");
  EXPECT_EQ(FirefoxLocation(), "sql:/srv/profiles/ana");  // the only profile, though not marked
  Ini("profiles.ini", "[Profile0]\nName=a\nPath=a.one\n[Profile1]\nName=b\nPath=b.two\n");
  EXPECT_EQ(FirefoxLocation(), "");  // two, neither the default: none is guessed
  std::filesystem::remove(Firefox() + "/profiles.ini");
  EXPECT_EQ(FirefoxLocation(), "");
}

TEST_F(FirefoxProfiles, StoreNamesOneDatabase) {
  Ini("profiles.ini", "[Profile0]\nName=default\nIsRelative=1\nPath=p.default\nDefault=1\n");
  const Databases firefox = StoreDatabases(home_.path(), "firefox");
  ASSERT_EQ(firefox.entries.size(), 1u) << firefox.Describe();
  EXPECT_EQ(std::string(firefox.entries[0].location), "sql:" + Firefox() + "/p.default");
  const Databases chromium = StoreDatabases(home_.path(), "chromium");
  ASSERT_EQ(chromium.entries.size(), 1u);
  EXPECT_STREQ(chromium.entries[0].label, "Chromium");
  const Databases named = StoreDatabases(home_.path(), "sql:/somewhere/db");
  ASSERT_EQ(named.entries.size(), 1u);
  EXPECT_STREQ(named.entries[0].label, "QUILLBOX_NSS_DB");
  EXPECT_STREQ(named.entries[0].location, "sql:/somewhere/db");
}

// Both browsers' databases under a temporary HOME, through the quillbox command.
class BrowserStores : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDatabaseAt(home_ / ".pki/nssdb", "chromium-signer", "/O=Quillbox Tests/CN=Chromium Signer");
    std::filesystem::create_directories(home_ / ".mozilla/firefox");
    WriteFile(home_ / ".mozilla/firefox/profiles.ini",
              "[Profile0]\nName=default-release\nIsRelative=1\nPath=q1w2.default-release\nDefault=1\n");
    WriteFile(home_ / ".mozilla/firefox/installs.ini", "[4F96D1932A9F858E]\nDefault=q1w2.default-release\n");
    MakeDatabaseAt(home_ / ".mozilla/firefox/q1w2.default-release", "firefox-signer", "/O=Quillbox Tests/CN=Firefox Signer");
    WriteFile(home_ / "form.xml", kDocument);
    world_.Unset("QUILLBOX_NSS_DB");
  }
  std::string Chromium() const { return "sql:" + home_.path() + "/.pki/nssdb"; }
  std::string Firefox() const { return "sql:" + home_.path() + "/.mozilla/firefox/q1w2.default-release"; }

  TempDir home_{"quillbox-browsers-home"};
  QuillboxWorld world_{home_.path()};
};

TEST_F(BrowserStores, TheStoreHoldsBothAndSaysWhereEachComesFrom) {
  const QuillboxResult listed = world_.Run({"certs"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  const auto chromium = listed.out.find("CN=Chromium Signer");
  const auto firefox = listed.out.find("CN=Firefox Signer");
  ASSERT_NE(chromium, std::string::npos) << listed.out;
  ASSERT_NE(firefox, std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("from:    Chromium (" + Chromium() + ")\n", chromium), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("from:    Firefox (" + Firefox() + ")\n", firefox), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("key:     software token \"Firefox\""), std::string::npos) << listed.out;
}

TEST_F(BrowserStores, SignsWithTheKeyInFirefoxsDatabase) {
  const QuillboxResult signed_ = world_.Run({"sign", "--subject", "Firefox Signer", home_ / "form.xml", "-o", home_ / "signed.xml"});
  ASSERT_EQ(signed_.status, 0) << signed_.err;
  EXPECT_EQ(world_.Run({"verify", home_ / "signed.xml"}).status, 0);
}

TEST_F(BrowserStores, StoreOptionNamesOne) {
  const QuillboxResult firefox = world_.Run({"--store", "firefox", "certs"});
  EXPECT_EQ(firefox.status, 0) << firefox.err;
  EXPECT_NE(firefox.out.find("CN=Firefox Signer"), std::string::npos);
  EXPECT_EQ(firefox.out.find("CN=Chromium Signer"), std::string::npos);
  const QuillboxResult chromium = world_.Run({"certs", "--store", "chromium"});
  EXPECT_NE(chromium.out.find("CN=Chromium Signer"), std::string::npos);
  EXPECT_EQ(chromium.out.find("CN=Firefox Signer"), std::string::npos);
}

TEST_F(BrowserStores, BothDatabasesAreListedAfreshEveryTime) {
  // Firefox's database is a further token: its writes are not watched, so no listing is reused.
  setenv("HOME", home_.path().c_str(), 1);
  unsetenv("QUILLBOX_NSS_DB");
  ASSERT_TRUE(QbCryptOpenSession(TRUE));
  const LONG before = QbCertStoreListings();
  for (int round = 0; round < 2; ++round) {
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    ASSERT_NE(store, nullptr);
    std::vector<std::string> sources;
    for (PCCERT_CONTEXT certificate = CertEnumCertificatesInStore(store, nullptr); certificate != nullptr;
         certificate = CertEnumCertificatesInStore(store, certificate)) {
      QB_CERT_KEY_INFO info{};
      info.cbSize = sizeof info;
      EXPECT_TRUE(QbCertKeyInfo(certificate, &info));
      EXPECT_EQ(info.state, QB_CERT_KEY_READY);
      sources.push_back(info.sourceLabel);
    }
    CertCloseStore(store, 0);
    std::sort(sources.begin(), sources.end());
    EXPECT_EQ(sources, (std::vector<std::string>{"Chromium", "Firefox"}));
  }
  EXPECT_EQ(QbCertStoreListings() - before, 2);
  QB_CRYPT_STORE_DATABASE firefox{};
  firefox.cbSize = sizeof firefox;
  ASSERT_TRUE(QbCryptStoreDatabase(1, &firefox));
  EXPECT_TRUE(firefox.open);
  EXPECT_TRUE(QbCryptCloseSession());
  ASSERT_TRUE(QbCryptStoreDatabase(1, &firefox));
  EXPECT_FALSE(firefox.open);
}

TEST(NoStore, TheCommandSaysWhatItLookedForAndHowToChoose) {
  TempDir home("quillbox-empty-home");
  QuillboxWorld world(home.path());
  world.Unset("QUILLBOX_NSS_DB");
  const QuillboxResult listed = world.Run({"certs"});
  EXPECT_EQ(listed.status, 1);
  EXPECT_NE(listed.err.find("Chromium: " + home.path() + "/.pki/nssdb (not found)"), std::string::npos) << listed.err;
  EXPECT_NE(listed.err.find("Firefox: " + home.path() + "/.mozilla/firefox/profiles.ini"), std::string::npos)
      << listed.err;
  EXPECT_NE(listed.err.find("--store firefox"), std::string::npos) << listed.err;
  // Signing names the component's error first.
  WriteFile(home / "form.xml", kDocument);
  const QuillboxResult signed_ = world.Run({"sign", "--subject", "x", home / "form.xml"});
  EXPECT_EQ(signed_.status, 1);
  EXPECT_NE(signed_.err.find("ERR_OPEN_CERT_STORE (30)"), std::string::npos) << signed_.err;
}

}  // namespace
}  // namespace quillbox::test
