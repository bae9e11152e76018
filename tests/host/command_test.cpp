// The quillbox command end to end, through the real binary, on a store and registry of its own.
#include "host/command_runner.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

namespace quillbox::host::test {
namespace {

const std::string kSubject = "CN=Host Test Signer, O=Quillbox Tests, C=SI";

std::string Example(const std::string& name) { return quillbox::test::ReadFile(std::string(QUILLBOX_SOURCE_DIR) + "/examples/" + name); }
// The scripts both script hosts run: the quillbox command here, Wine's cscript in the Windows tests.
std::string Script(const std::string& name) { return std::string(QUILLBOX_SOURCE_DIR) + "/tests/scripts/" + name; }

// One world with one self-signed certificate for the whole suite: making an RSA key is slow.
class QuillboxCommand : public SignerWorldSuite<QuillboxCommand> {
 public:
  static inline const std::string kSubject = test::kSubject;

 protected:

  // The issuer and serial texts "certs list" prints for the test certificate.
  static std::pair<std::string, std::string> IssuerAndSerial() {
    const Result list = world().Quillbox({"certs", "list"});
    std::smatch match;
    const std::regex entry("issuer:  ([^\n]*)\nserial:  ([0-9A-F]+)\n");
    if (list.status != 0 || !std::regex_search(list.out, match, entry)) return {};
    return {match[1], match[2]};
  }
};

TEST_F(QuillboxCommand, WrongUsageEndsWithStatusTwoAndTheUsage) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"frobnicate"},
      {"--bogus", "sign"},
      {"sign", "in.xml"},
      {"sign", "--subject", "a", "--pick"},
      {"sign", "--issuer", "x"},
      {"sign", "--subject", "a", "--user-name", "n"},
      {"sign", "--subject", "a", "one.xml", "two.xml"},
      {"transform", "in.xml"},
      {"verify"},
      {"certs", "bogus"},
      {"certs", "new-self-signed", "CN=x", "--days", "zero"},
      {"run"},
      {"register", "a", "b"},
      {"sign", "--subject"},
  };
  for (const auto& arguments : wrong) {
    const Result result = world().Quillbox(arguments);
    EXPECT_EQ(result.status, 2) << ::testing::PrintToString(arguments);
    EXPECT_NE(result.err.find("usage:"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty());
  }
}

TEST_F(QuillboxCommand, EveryCommandHasHelp) {
  for (const std::string command : {"run", "sign", "transform", "verify", "certs", "browser", "register", "unregister"}) {
    const Result result = world().Quillbox({command, "--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("usage: quillbox " + command), std::string::npos) << result.out;
  }
  const Result overall = world().Quillbox({"--help"});
  EXPECT_EQ(overall.status, 0);
  EXPECT_NE(overall.out.find("--store"), std::string::npos);
  EXPECT_NE(world().Quillbox({"certs", "--help"}).out.find("certutil"), std::string::npos);
}

TEST_F(QuillboxCommand, CertsListShowsTheTextsSignCompares) {
  const Result list = world().Quillbox({"certs", "list"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("subject: " + kSubject), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("issuer:  " + kSubject), std::string::npos) << list.out;
  EXPECT_TRUE(std::regex_search(list.out, std::regex("serial:  [0-9A-F]{2,}\n"))) << list.out;
  EXPECT_TRUE(std::regex_search(list.out, std::regex("valid:   \\d{4}-\\d\\d-\\d\\d .* UTC to \\d{4}-"))) << list.out;
  EXPECT_NE(list.out.find("key:     software token \"NSS Certificate DB\""), std::string::npos) << list.out;
}

TEST_F(QuillboxCommand, SignsStandardInputToStandardOutputAndVerifies) {
  const Result signed_ = world().Quillbox({"sign", "--subject", "host test signer"}, "<doc><a>1</a></doc>");
  ASSERT_EQ(signed_.status, 0) << signed_.err;
  EXPECT_NE(signed_.out.find("<doc><a>1</a><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\""), std::string::npos)
      << signed_.out;
  world().Write("stdin-signed.xml", signed_.out);
  const Result verified = world().Quillbox({"verify", world().Path("stdin-signed.xml")});
  EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
  EXPECT_NE(verified.out.find("signature 1: valid"), std::string::npos);
  EXPECT_NE(verified.out.find("subject: " + kSubject), std::string::npos) << verified.out;
}

TEST_F(QuillboxCommand, VerifyRejectsATamperedDocument) {
  const Result signed_ = world().Quillbox({"sign", "--subject", "Host Test"}, "<doc><amount>100</amount></doc>");
  ASSERT_EQ(signed_.status, 0) << signed_.err;
  std::string tampered = signed_.out;
  tampered.replace(tampered.find("100"), 3, "900");
  world().Write("tampered.xml", tampered);
  const Result verified = world().Quillbox({"verify", world().Path("tampered.xml")});
  EXPECT_EQ(verified.status, 1);
  EXPECT_NE(verified.out.find("INVALID"), std::string::npos) << verified.out;
  world().Write("unsigned.xml", "<doc/>");
  EXPECT_EQ(world().Quillbox({"verify", world().Path("unsigned.xml")}).status, 1);
}

TEST_F(QuillboxCommand, SignsByIssuerAndSerialWithAdvancedProperties) {
  const auto [issuer, serial] = IssuerAndSerial();
  ASSERT_FALSE(serial.empty());
  std::string lower = serial;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const Result signed_ = world().Quillbox({"sign", "--issuer", issuer, "--serial", lower, "--advanced", "--user-name",
                                           "Ana Novak", "--timestamp", "2008-07-14T09:30:00"},
                                          "<doc/>");
  ASSERT_EQ(signed_.status, 0) << signed_.err;
  EXPECT_NE(signed_.out.find("<UserName>Ana Novak</UserName>"), std::string::npos) << signed_.out;
  EXPECT_NE(signed_.out.find("<LocalTimeStamp>2008-07-14T09:30:00</LocalTimeStamp>"), std::string::npos);
  world().Write("advanced.xml", signed_.out);
  EXPECT_EQ(world().Quillbox({"verify", world().Path("advanced.xml")}).status, 0);
}

TEST_F(QuillboxCommand, FailureIsOneLineThatSaysWhatHappened) {
  const Result missing = world().Quillbox({"sign", "--subject", "nobody at all"}, "<doc/>");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.rfind("ERR_CERT_NOT_FOUND (31): no certificate of the personal store matches the subject "
                              "text \"nobody at all\"; 'quillbox certs' lists",
                              0),
            0u)
      << missing.err;
  EXPECT_TRUE(missing.out.empty());
  // A document that does not parse: where, and what the parser says.
  world().Write("broken.xml", "<doc>\n  <a>\n</doc>\n");
  const Result broken = world().Quillbox({"sign", "--subject", "Host Test", world().Path("broken.xml")});
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.err, "ERR_PARSING_XML (13): the document is not well-formed XML: " + world().Path("broken.xml") +
                            ", line 3, column 7: Opening and ending tag mismatch: a line 2 and doc\n");
  const Result fromInput = world().Quillbox({"sign", "--subject", "Host Test"}, "<doc>");
  EXPECT_EQ(fromInput.err.rfind("ERR_PARSING_XML (13): the document is not well-formed XML: standard input, line 1, "
                                "column ",
                                0),
            0u)
      << fromInput.err;
  EXPECT_EQ(std::count(fromInput.err.begin(), fromInput.err.end(), '\n'), 1);
  // No output file is left behind by a failed signing.
  EXPECT_EQ(world().Quillbox({"sign", "--subject", "nobody", "-o", world().Path("never.xml")}, "<doc/>").status, 1);
  EXPECT_FALSE(std::ifstream(world().Path("never.xml")).good());
}

// A store that cannot be opened names the database it looked for and how to name another.
TEST_F(QuillboxCommand, AStoreThatCannotBeOpenedSaysWhichAndWhatToDo) {
  const std::string database = "sql:" + world().Path("no-such-dir/db");
  const Result result = world().Quillbox({"--store", database, "sign", "--subject", "Host Test"}, "<doc/>");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("ERR_OPEN_CERT_STORE (30): "), std::string::npos) << result.err;
  EXPECT_NE(result.err.find(database), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("--store"), std::string::npos) << result.err;
}

// A database whose key database is missing, empty or unreadable says so, naming the file, in the
// failure line of 'sign' and in 'certs list', instead of asking for a password it never had.
TEST_F(QuillboxCommand, AKeyDatabaseThatIsNotThereIsToldAsSuch) {
  const std::string dir = world().Path("keyless");
  const std::string store = "sql:" + dir;
  const std::string keyFile = dir + "/key4.db";
  const Result made =
      world().Quillbox({"--store", store, "certs", "new-self-signed", "CN=Keyless Host Signer", "--days", "10"});
  ASSERT_EQ(made.status, 0) << made.err;
  ASSERT_EQ(std::remove(keyFile.c_str()), 0);

  const Result missing = world().Quillbox({"--store", store, "sign", "--subject", "Keyless Host Signer"}, "<doc/>");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.rfind("ERR_ADOPT_CERT_KEY (6): ", 0), 0u) << missing.err;
  EXPECT_NE(missing.err.find("no key database (" + keyFile + " was missing"), std::string::npos) << missing.err;
  EXPECT_EQ(missing.err.find("password"), std::string::npos) << missing.err;

  // Opening the database made an empty one in its place.
  const Result listed = world().Quillbox({"--store", store, "certs", "list"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("key:     none: its key database " + keyFile + " is empty"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("password needed"), std::string::npos) << listed.out;

  world().Write("keyless/key4.db", std::string(4096, 'z'));
  const Result unreadable = world().Quillbox({"--store", store, "sign", "--subject", "Keyless Host Signer"}, "<doc/>");
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_EQ(unreadable.err.rfind("ERR_OPEN_CERT_STORE (30): ", 0), 0u) << unreadable.err;
  EXPECT_NE(unreadable.err.find(store + ": it is there, but its key database " + keyFile + " cannot be read"),
            std::string::npos)
      << unreadable.err;
  const Result notListed = world().Quillbox({"--store", store, "certs", "list"});
  EXPECT_NE(notListed.status, 0);
  EXPECT_NE(notListed.err.find(store + " (found, but its key database " + keyFile + " cannot be read"), std::string::npos)
      << notListed.err;
}

// The library's report reaches the line with its message first; where in the code it was made
// shows only with --verbose, and is never a path of the machine that built the component.
TEST_F(QuillboxCommand, TheLibrarysReportComesMessageFirstAndWithoutBuildPaths) {
  const std::string dir = world().Path("locked");
  world().Write("password", "locked-db-password\n");
  world().Write("noise", std::string(2048, 'n'));
  ASSERT_EQ(world().Program("mkdir", {dir}).status, 0);
  ASSERT_EQ(world().Program("certutil", {"-N", "-d", "sql:" + dir, "-f", world().Path("password")}).status, 0);
  const Result made = world().Program(
      "certutil", {"-S", "-d", "sql:" + dir, "-f", world().Path("password"), "-z", world().Path("noise"), "-x", "-n",
                   "locked", "-s", "CN=Locked Key Signer", "-t", "u,u,u", "-k", "rsa", "-g", "2048", "-v", "1"});
  ASSERT_EQ(made.status, 0) << made.err;

  // No password file, no terminal, no display: the key stays locked and signing fails.
  const std::vector<std::string> sign = {"sign", "--subject", "Locked Key Signer"};
  std::vector<std::string> plain = {"--store", "sql:" + dir};
  plain.insert(plain.end(), sign.begin(), sign.end());
  std::vector<std::string> verbose = {"--verbose", "--store", "sql:" + dir};
  verbose.insert(verbose.end(), sign.begin(), sign.end());
  const Result short_ = world().Quillbox(plain, "<doc/>");
  const Result long_ = world().Quillbox(verbose, "<doc/>");
  EXPECT_EQ(short_.status, 1);
  EXPECT_EQ(long_.status, 1);
  const std::regex line(R"(ERR_[A-Z0-9_]+ \(\d+\): [^\n]+\n)");
  EXPECT_TRUE(std::regex_match(short_.err, line)) << short_.err;
  EXPECT_TRUE(std::regex_match(long_.err, line)) << long_.err;
  for (const std::string& err : {short_.err, long_.err}) {
    EXPECT_EQ(err.find(QUILLBOX_SOURCE_DIR), std::string::npos) << err;
    EXPECT_EQ(err.find(".cpp"), std::string::npos) << err;
    EXPECT_EQ(err.find("Error in "), std::string::npos) << err;
    EXPECT_EQ(err.find("Message: "), std::string::npos) << err;
  }
  EXPECT_NE(short_.err.find("password"), std::string::npos) << short_.err;  // the library's message
  EXPECT_EQ(short_.err.find("file quillbox"), std::string::npos) << short_.err;
  // The verbose line is the plain one with the place added at its end.
  ASSERT_GT(long_.err.size(), short_.err.size());
  EXPECT_EQ(long_.err.rfind(short_.err.substr(0, short_.err.size() - 1), 0), 0u) << long_.err;
  EXPECT_TRUE(std::regex_search(long_.err, std::regex(R"( \[[^\]]*file [^/\]]+\]\n$)"))) << long_.err;
}

// --serial and --issuer as openssl and other tools print them find the certificate, whose serial's
// first byte is high enough that DER writes a 00 before it.
TEST_F(QuillboxCommand, SerialAndIssuerInOtherToolsFormsFindTheCertificate) {
  const std::string key = world().Path("forms.key"), cert = world().Path("forms.pem"), p12 = world().Path("forms.p12");
  ASSERT_EQ(world()
                .Program("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-subj",
                                     "/C=SI/O=Quillbox Tests/CN=Serial Form Signer", "-days", "10", "-set_serial",
                                     "0x8A1B2C3D"})
                .status,
            0);
  ASSERT_EQ(world().Program("openssl", {"pkcs12", "-export", "-in", cert, "-inkey", key, "-out", p12, "-passout",
                                        "pass:forms"}).status,
            0);
  world().Write("forms.password", "forms\n");
  const Result imported = world().Quillbox({"certs", "import", p12, "--password-file", world().Path("forms.password")});
  ASSERT_EQ(imported.status, 0) << imported.err;

  // What openssl itself prints, without its "name=" prefix left in or taken out by hand.
  const auto openssl = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"x509", "-in", cert, "-noout"});
    std::string out = world().Program("openssl", arguments).out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  };
  std::smatch decimal;
  const std::string text = openssl({"-text"});
  ASSERT_TRUE(std::regex_search(text, decimal, std::regex(R"(Serial Number: (\d+ \(0x[0-9a-f]+\)))"))) << text;
  const std::vector<std::pair<std::string, std::string>> forms = {
      {"CN=Serial Form Signer, O=Quillbox Tests, C=SI", "008A1B2C3D"},  // as 'quillbox certs' prints them
      {openssl({"-issuer"}), openssl({"-serial"})},                     // "issuer=C = SI, ..." and "serial=8A1B2C3D"
      {openssl({"-issuer", "-nameopt", "compat"}), "8a:1b:2c:3d"},       // "/C=SI/O=.../CN=..."
      {openssl({"-issuer", "-nameopt", "RFC2253"}), "00 8A 1B 2C 3D"},   // "CN=...,O=...,C=SI"
      {"C = SI, O = Quillbox Tests, CN = Serial Form Signer", decimal[1]},
      {"CN=Serial Form Signer, O=Quillbox Tests, C=SI", "0x8a1b2c3d"},
  };
  for (const auto& [issuer, serial] : forms) {
    const Result signed_ = world().Quillbox({"sign", "--issuer", issuer, "--serial", serial}, "<doc/>");
    EXPECT_EQ(signed_.status, 0) << issuer << " / " << serial << ": " << signed_.err;
    EXPECT_NE(signed_.out.find("<X509SerialNumber>2317036605</X509SerialNumber>"), std::string::npos)
        << issuer << " / " << serial;
  }
  const Result notHex = world().Quillbox({"sign", "--issuer", "CN=x", "--serial", "12:zz"}, "<doc/>");
  EXPECT_EQ(notHex.status, 2);
  EXPECT_NE(notHex.err.find("--serial"), std::string::npos) << notHex.err;
}

namespace fs = std::filesystem;

std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// -o replaces a file only with a complete new one: a failure leaves the old file as it was and
// no temporary file beside it.
TEST_F(QuillboxCommand, OutputFileIsReplacedWholeOrNotAtAll) {
  const std::string dir = world().Path("out");
  fs::create_directory(dir);
  const std::string old = dir + "/signed.xml";
  std::ofstream(old) << "old contents";
  fs::permissions(old, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::vector<std::string> sign = {"sign", "--subject", "Host Test", "-o"};
  const auto signTo = [&](const std::string& path) {
    std::vector<std::string> arguments = sign;
    arguments.push_back(path);
    return world().Quillbox(arguments, "<doc/>");
  };

  // Replaced: the new contents, the old file's permissions.
  ASSERT_EQ(signTo(old).status, 0);
  EXPECT_NE(world().Read("out/signed.xml").find("<SignatureValue>"), std::string::npos);
  EXPECT_EQ(fs::status(old).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Entries(dir), std::vector<std::string>{"signed.xml"});

  // A new file gets what the umask allows.
  const mode_t mask = umask(027);
  const Result created = signTo(dir + "/new.xml");
  umask(mask);
  ASSERT_EQ(created.status, 0) << created.err;
  EXPECT_EQ(fs::status(dir + "/new.xml").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // The rename fails (a directory is in the way): the directory and its contents stay.
  fs::create_directory(dir + "/taken");
  std::ofstream(dir + "/taken/inside") << "kept";
  const Result renameFails = signTo(dir + "/taken");
  EXPECT_EQ(renameFails.status, 1);
  EXPECT_NE(renameFails.err.find("cannot write " + dir + "/taken"), std::string::npos) << renameFails.err;
  EXPECT_EQ(world().Read("out/taken/inside"), "kept");
  EXPECT_EQ(Entries(dir), (std::vector<std::string>{"new.xml", "signed.xml", "taken"}));

  // The old file may not be replaced: it stays as it was. File permissions stop a user, with a
  // read-only directory; root is stopped only by an immutable file (chattr +i, where the file
  // system has the attribute).
  const bool root = geteuid() == 0;
  const bool blocked = root ? world().Program("chattr", {"+i", old}).status == 0
                            : (fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec), true);
  if (blocked) {
    const std::string before = world().Read("out/signed.xml");
    const Result refused = signTo(old);
    if (root) {
      world().Program("chattr", {"-i", old});
    } else {
      fs::permissions(dir, fs::perms::owner_all);
    }
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("cannot write " + old), std::string::npos) << refused.err;
    EXPECT_EQ(world().Read("out/signed.xml"), before);
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"new.xml", "signed.xml", "taken"}));
  }
}

TEST_F(QuillboxCommand, AFailedWriteToStandardOutputIsAnError) {
  world().Write("small.xml", "<doc/>");
  const Result signed_ = world().QuillboxWritingTo("/dev/full", {"sign", "--subject", "Host Test", world().Path("small.xml")});
  EXPECT_EQ(signed_.status, 1);
  EXPECT_NE(signed_.err.find("cannot write standard output"), std::string::npos) << signed_.err;
  // Printed text goes out only at the final flush.
  const Result listed = world().QuillboxWritingTo("/dev/full", {"certs", "list"});
  EXPECT_EQ(listed.status, 1);
  EXPECT_NE(listed.err.find("cannot write standard output"), std::string::npos) << listed.err;
  EXPECT_EQ(world().QuillboxWritingTo("/dev/full", {"--help"}).status, 1);
  // A device named with -o is written as it is, and its failure counts too.
  EXPECT_EQ(world().Quillbox({"sign", "--subject", "Host Test", "-o", "/dev/full"}, "<doc/>").status, 1);
  EXPECT_EQ(world().Quillbox({"sign", "--subject", "Host Test", "-o", "/dev/null"}, "<doc/>").status, 0);
}

TEST_F(QuillboxCommand, Windows1250FormComesBackAsWindows1250WithEveryCharacter) {
  world().Write("form.xml", Example("form.xml"));
  const Result signed_ = world().Quillbox(
      {"sign", world().Path("form.xml"), "-o", world().Path("form.signed.xml"), "--subject", "Host Test", "--advanced",
       "--user-name", "Žiga Čebašek"});
  ASSERT_EQ(signed_.status, 0) << signed_.err;
  const std::string bytes = world().Read("form.signed.xml");
  EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"windows-1250\"?>", 0), 0u) << bytes.substr(0, 80);
  EXPECT_NE(bytes.find("<priimek>\xC8" "eba\x9A" "ek</priimek>"), std::string::npos);          // Čebašek
  EXPECT_NE(bytes.find("<UserName>\x8Eiga \xC8" "eba\x9A" "ek</UserName>"), std::string::npos);  // Žiga Čebašek
  EXPECT_NE(bytes.find("dru\x9Einske po\xE8itnice"), std::string::npos);                        // družinske počitnice
  EXPECT_EQ(bytes.find('\xC5'), std::string::npos);  // no UTF-8 lead byte of Ž/Č/Š slipped in
  const Result verified = world().Quillbox({"verify", world().Path("form.signed.xml")});
  EXPECT_EQ(verified.status, 0) << verified.out;
  // And by xmlsec's own tool, which knows nothing of this project.
  const Result independent = world().Program(
      "xmlsec1", {"--verify", "--insecure", "--id-attr:Id", "Object", world().Path("form.signed.xml")});
  EXPECT_EQ(independent.status, 0) << independent.err;
}

TEST_F(QuillboxCommand, TransformsAndReportsStylesheetErrors) {
  world().Write("form.xml", Example("form.xml"));
  world().Write("summary.xsl", Example("form-summary.xsl"));
  const Result html = world().Quillbox({"transform", "--xsl", world().Path("summary.xsl"), world().Path("form.xml")});
  ASSERT_EQ(html.status, 0) << html.err;
  EXPECT_NE(html.out.find("Čebašek"), std::string::npos) << html.out;
  EXPECT_NE(html.out.find("Ni podpisano."), std::string::npos);

  world().Write("not-xslt.xsl", "<just-xml/>");
  const Result bad = world().Quillbox({"transform", "--xsl", world().Path("not-xslt.xsl")}, "<doc/>");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "ERR_PARSING_XSLT_SCHEMA (38): the stylesheet is not a valid XSLT stylesheet\n");
  world().Write("broken.xsl", "<xsl:stylesheet>\n<a>");
  const Result broken = world().Quillbox({"transform", "--xsl", world().Path("broken.xsl")}, "<doc/>");
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.err.rfind("ERR_PARSING_SCHEMA_XML (37): the stylesheet is not well-formed XML: " +
                                 world().Path("broken.xsl") + ", line 2, column ",
                             0),
            0u)
      << broken.err;
}

TEST_F(QuillboxCommand, ScriptUsesEveryMemberThroughDispatch) {
  const Result result = world().Quillbox({"run", Script("members.js"), "Host Test Signer"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "all members 1\n");
}

// The scripts of examples/ are what an integrator copies first: each does what its opening
// comment says, with the arguments it shows.
TEST_F(QuillboxCommand, TheExampleScriptsDoWhatTheySay) {
  const std::string examples = std::string(QUILLBOX_SOURCE_DIR) + "/examples/";
  const Result bySubject = world().Quillbox({"run", examples + "sign-by-subject.js", "Host Test Signer"});
  ASSERT_EQ(bySubject.status, 0) << bySubject.err;
  EXPECT_NE(bySubject.out.find("<izdelek>Čokolada</izdelek>"), std::string::npos) << bySubject.out;
  EXPECT_NE(bySubject.out.find("<UserName>Ana Novak</UserName>"), std::string::npos) << bySubject.out;
  world().Write("by-subject.xml", bySubject.out);
  EXPECT_EQ(world().Quillbox({"verify", world().Path("by-subject.xml")}).status, 0);

  // The serial as a page may have kept it, in lower case.
  auto [issuer, serial] = IssuerAndSerial();
  ASSERT_FALSE(serial.empty());
  std::transform(serial.begin(), serial.end(), serial.begin(), [](unsigned char c) { return std::tolower(c); });
  const Result byIssuer = world().Quillbox({"run", examples + "sign-by-issuer-serial.js", issuer, serial});
  ASSERT_EQ(byIssuer.status, 0) << byIssuer.out << byIssuer.err;
  world().Write("by-issuer.xml", byIssuer.out);
  EXPECT_EQ(world().Quillbox({"verify", world().Path("by-issuer.xml")}).status, 0);
  const Result unknownSerial = world().Quillbox({"run", examples + "sign-by-issuer-serial.js", issuer, "01"});
  EXPECT_EQ(unknownSerial.status, 1);
  EXPECT_EQ(unknownSerial.out, "Napaka 31: ERR_CERT_NOT_FOUND\n");
  EXPECT_EQ(world().Quillbox({"run", examples + "sign-by-issuer-serial.js"}).status, 2);

  const Result errors = world().Quillbox({"run", examples + "error-handling.js"});
  EXPECT_EQ(errors.status, 0) << errors.err;
  EXPECT_EQ(errors.out,
            "Sign: ERR_PARSING_XML (13)\n"
            "Sign: ERR_CERT_NOT_FOUND (31)\n"
            "Transform: ERR_PARSING_XSLT_SCHEMA (38), result ''\n"
            "Script error: 'Sgin': Unknown name (0x80020006)\n"
            "Version 1.0.1.0\n");

  const std::string stylesheet =
      "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
      "<xsl:template match=\"/\"><p><xsl:value-of select=\"/narocilo/izdelek\"/></p></xsl:template></xsl:stylesheet>";
  const Result preview = world().Quillbox({"run", examples + "transform.js"},
                                          "<narocilo><izdelek>Čokolada</izdelek></narocilo>\n----\n" + stylesheet);
  EXPECT_EQ(preview.status, 0) << preview.err;
  EXPECT_NE(preview.out.find("<p>Čokolada</p>"), std::string::npos) << preview.out;
  const Result noCut = world().Quillbox({"run", examples + "transform.js"}, "<doc/>");
  EXPECT_EQ(noCut.status, 2);
  EXPECT_NE(noCut.err.find("a line ----"), std::string::npos) << noCut.err;

  // No display in the test world: the dialog cannot be shown, and nothing is signed.
  const Result pick = world().Quillbox({"run", examples + "pick-then-sign.js"});
  EXPECT_EQ(pick.status, 1);
  EXPECT_EQ(pick.out, "No certificate chosen (ERR_NO_CERT_SELECTED)\n");
}

TEST_F(QuillboxCommand, ScriptErrorsEndWithStatusOneAndTheMessage) {
  world().Write("throws.js", "var sig = new ActiveXObject('Quillbox.Signature');\nsig.Sgin();\n");
  const Result unknown = world().Quillbox({"run", world().Path("throws.js")});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("throws.js:2"), std::string::npos) << unknown.err;
  EXPECT_NE(unknown.err.find("0x80020006"), std::string::npos) << unknown.err;

  world().Write("own.js", "throw new Error('stopped by the script');");
  const Result own = world().Quillbox({"run", world().Path("own.js")});
  EXPECT_EQ(own.status, 1);
  EXPECT_NE(own.err.find("stopped by the script"), std::string::npos) << own.err;

  EXPECT_NE(world().Quillbox({"run", world().Path("missing.js")}).status, 0);
  world().Write("noclass.js", "new ActiveXObject('No.Such.Class');");
  const Result noClass = world().Quillbox({"run", world().Path("noclass.js")});
  EXPECT_EQ(noClass.status, 1);
  EXPECT_NE(noClass.err.find("No.Such.Class"), std::string::npos) << noClass.err;
}

TEST_F(QuillboxCommand, ScriptReadsStandardInputAndQuitsWithItsCode) {
  world().Write("echo.js", "var t = WScript.StdIn.ReadAll(); WScript.StdOut.Write(t.length + ':' + t); WScript.Quit(3);");
  const Result result = world().Quillbox({"run", world().Path("echo.js")}, "Šentjur");
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "7:Šentjur");
}

TEST_F(QuillboxCommand, RegistersItsModuleWhenTheClassIsMissing) {
  World fresh;  // a registry that has never seen the component
  fresh.Write("create.js", "WScript.Echo(new ActiveXObject('Quillbox.Signature').Version);");
  const Result first = fresh.Quillbox({"run", fresh.Path("create.js")});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "1.0.1.0\n");

  EXPECT_EQ(fresh.Quillbox({"unregister"}).status, 0);
  fresh.Write("probe.js", "try { new ActiveXObject('Quillbox.Signature.1'); WScript.Echo('there') } catch (e) { WScript.Echo('gone') }");
  EXPECT_EQ(fresh.Quillbox({"run", fresh.Path("probe.js")}).out, "gone\n");
  EXPECT_EQ(fresh.Quillbox({"register"}).status, 0);
  EXPECT_EQ(fresh.Quillbox({"run", fresh.Path("probe.js")}).out, "there\n");
  EXPECT_NE(fresh.Quillbox({"register", fresh.Path("no-such-module.so")}).status, 0);
}

TEST_F(QuillboxCommand, GlobalOptionsChooseTheStoreAndRegistry) {
  World other;
  const Result empty = other.Quillbox({"--store", "sql:" + other.Path("empty-db"), "--registry", other.Path("r.db"),
                                       "certs", "list"});
  // An empty or missing store lists nothing; the suite's certificate is not in it.
  EXPECT_EQ(empty.out.find(kSubject), std::string::npos);
  const Result viaOption = other.Quillbox({"certs", "list", "--store", "sql:" + world().Path("nssdb")});
  EXPECT_EQ(viaOption.status, 0) << viaOption.err;
  EXPECT_NE(viaOption.out.find(kSubject), std::string::npos);
}

}  // namespace
}  // namespace quillbox::host::test
