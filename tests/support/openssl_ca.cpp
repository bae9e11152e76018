#include "support/openssl_ca.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>

namespace quillbox::test {
namespace {

// `openssl ca` keeps its books in the directory the configuration names. The policy lets the
// usual name attributes through (any it does not name are dropped) in the order the request gives
// them, and one subject may be certified more than once (a renewal).
constexpr const char* kConfig = R"([ ca ]
default_ca = authority

[ authority ]
dir = @DIR@
database = $dir/index.txt
serial = $dir/serial
new_certs_dir = $dir/issued
certificate = $dir/ca.pem
private_key = $dir/ca.key
default_md = sha256
default_days = 365
policy = any_name
preserve = yes
unique_subject = no
email_in_dn = no
copy_extensions = none

[ any_name ]
countryName = optional
stateOrProvinceName = optional
localityName = optional
organizationName = optional
organizationalUnitName = optional
commonName = optional
emailAddress = optional
serialNumber = optional
givenName = optional
surname = optional
domainComponent = optional

[ req ]
distinguished_name = req_name
prompt = no
string_mask = utf8only

[ req_name ]
CN = unused
)";

void Require(const std::vector<std::string>& argv) {
  const CommandResult result = RunCommand(argv);
  if (result.status == 0) return;
  std::string command;
  for (const std::string& arg : argv) command += arg + " ";
  throw std::runtime_error(command + "failed (" + std::to_string(result.status) + "): " + result.output);
}

// Twenty random bytes with the top bit clear, so the DER integer is positive and exactly twenty
// bytes long: the largest serial RFC 5280 allows, and what openssl draws by default.
std::string RandomSerialHex() {
  unsigned char bytes[20];
  FILE* random = std::fopen("/dev/urandom", "rb");
  const bool read = random != nullptr && std::fread(bytes, 1, sizeof bytes, random) == sizeof bytes;
  if (random != nullptr) std::fclose(random);
  if (!read) throw std::runtime_error("cannot read /dev/urandom");
  bytes[0] &= 0x7F;
  if (bytes[0] == 0) bytes[0] = 0x01;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

std::string UpperCase(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string KeyUsageLine(const std::string& keyUsage) {
  return keyUsage.empty() ? "" : "keyUsage = " + keyUsage + "\n";
}

}  // namespace

std::string OpensslTimeFromNow(std::chrono::seconds offset) {
  const std::time_t at = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() + offset);
  std::tm utc{};
  gmtime_r(&at, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &utc);
  return text;
}

OpensslCa::OpensslCa(EmptyBooks) : dir_("quillbox-ca") {
  std::filesystem::create_directories(dir_ / "issued");
  WriteFile(dir_ / "index.txt", "");
  std::string config = kConfig;
  config.replace(config.find("@DIR@"), 5, dir_.path());
  WriteFile(dir_ / "openssl.cnf", config);
  certificatePem_ = dir_ / "ca.pem";
  keyPem_ = dir_ / "ca.key";
}

OpensslCa::OpensslCa(const std::string& subject) : OpensslCa(EmptyBooks{}) {
  // Valid from well before any window a test asks of its certificates to well after it.
  const IssuedCertificate root =
      Sign({subject, "", OpensslTimeFromNow(std::chrono::days(-3650)), OpensslTimeFromNow(std::chrono::days(3650)),
            "critical,keyCertSign,cRLSign"},
           "basicConstraints = critical,CA:TRUE\n", true);
  std::filesystem::copy_file(root.certificatePem, certificatePem_);
  std::filesystem::copy_file(root.keyPem, keyPem_);
  chainPem_ = ReadFile(certificatePem_);
}

OpensslCa OpensslCa::Intermediate(const std::string& subject) {
  const IssuedCertificate certified =
      Sign({subject, "", OpensslTimeFromNow(std::chrono::days(-3000)), OpensslTimeFromNow(std::chrono::days(3000)),
            "critical,keyCertSign,cRLSign"},
           "basicConstraints = critical,CA:TRUE,pathlen:0\n");
  OpensslCa intermediate{EmptyBooks{}};
  std::filesystem::copy_file(certified.certificatePem, intermediate.certificatePem_);
  std::filesystem::copy_file(certified.keyPem, intermediate.keyPem_);
  intermediate.chainPem_ = ReadFile(intermediate.certificatePem_) + chainPem_;
  return intermediate;
}

IssuedCertificate OpensslCa::Issue(const IssueRequest& request) {
  return Sign(request, "basicConstraints = critical,CA:FALSE\n");
}

IssuedCertificate OpensslCa::Sign(const IssueRequest& request, const std::string& extensions, bool selfSigned) {
  const std::string name = "cert" + std::to_string(++issued_);
  IssuedCertificate issued{dir_ / (name + ".pem"), dir_ / (name + ".key"),
                           request.serialHex.empty() ? RandomSerialHex() : UpperCase(request.serialHex)};
  // openssl ca takes the serial from its serial file, in hexadecimal of any length; an odd number
  // of digits is not read there.
  const std::string serialDigits = issued.serialHex.size() % 2 != 0 ? "0" + issued.serialHex : issued.serialHex;
  WriteFile(dir_ / "serial", serialDigits + "\n");
  WriteFile(dir_ / (name + ".ext"), "[ extensions ]\n" + extensions + "subjectKeyIdentifier = hash\n" +
                                        KeyUsageLine(request.keyUsage));

  const std::string config = dir_ / "openssl.cnf";
  const std::string csr = dir_ / (name + ".csr");
  Require({"openssl", "req", "-new", "-config", config, "-utf8", "-newkey", "rsa:2048", "-nodes", "-keyout",
           issued.keyPem, "-subj", request.subject, "-out", csr});
  std::vector<std::string> ca = {"openssl", "ca", "-batch", "-notext", "-config", config, "-utf8", "-in", csr,
                                 "-out", issued.certificatePem, "-extfile", dir_ / (name + ".ext"), "-extensions",
                                 "extensions", "-startdate",
                                 request.notBefore.empty() ? OpensslTimeFromNow(std::chrono::days(-1)) : request.notBefore,
                                 "-enddate",
                                 request.notAfter.empty() ? OpensslTimeFromNow(std::chrono::days(365)) : request.notAfter};
  if (selfSigned) ca.insert(ca.end(), {"-selfsign", "-keyfile", issued.keyPem});
  Require(ca);
  return issued;
}

std::string OpensslCa::ExportPkcs12(const IssuedCertificate& issued, const std::string& nickname,
                                    const std::string& password) const {
  const std::string chain = issued.certificatePem + ".chain";
  std::string file = issued.certificatePem + ".p12";
  WriteFile(chain, chainPem_);
  Require({"openssl", "pkcs12", "-export", "-in", issued.certificatePem, "-inkey", issued.keyPem, "-certfile", chain,
           "-name", nickname, "-passout", "pass:" + password, "-out", file});
  return file;
}

std::string DerOf(const IssuedCertificate& issued) {
  const std::string der = issued.certificatePem + ".der";
  Require({"openssl", "x509", "-in", issued.certificatePem, "-outform", "DER", "-out", der});
  return ReadFile(der);
}

void CaIssuedStoreEnvironment::SetUp() {
  database_ = std::make_unique<NssDatabase>(NssDatabase::Create());
  Fill(*database_);
  UseAsStore(*database_);
}

void CaIssuedStoreEnvironment::TearDown() {
  ExpectNssClosesCleanly();
  database_.reset();
}

void OpensslCa::ImportInto(NssDatabase& database, const IssuedCertificate& issued, const std::string& nickname) const {
  database.ImportPkcs12(ExportPkcs12(issued, nickname, "transport"), "transport");
}

}  // namespace quillbox::test
