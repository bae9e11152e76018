#include "support/nss_store.h"

#include <windows.h>
#include <qbcrypt.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace quillbox::test {
namespace {

namespace fs = std::filesystem;

// Bump when the standard store's recipe changes, so a stale cached copy is not used.
constexpr const char* kStoreVersion = "v1";

std::string Tool(const char* name) { return name; }

}  // namespace

NssDatabase::NssDatabase(const std::string& password) : dir_("quillbox-nssdb"), password_(password) {}

std::vector<std::string> NssDatabase::Certutil(std::vector<std::string> args) const {
  std::vector<std::string> argv = {Tool("certutil"), "-d", location()};
  argv.insert(argv.end(), args.begin(), args.end());
  if (!password_.empty()) {
    argv.push_back("-f");
    argv.push_back(dir_ / "password.txt");
  }
  return argv;
}

void NssDatabase::Require(const std::vector<std::string>& argv) const {
  const CommandResult result = RunCommand(argv);
  if (result.status != 0) {
    std::string command;
    for (const std::string& arg : argv) command += arg + " ";
    throw std::runtime_error(command + "failed (" + std::to_string(result.status) + "): " + result.output);
  }
}

// certutil wants seed material for key generation instead of keyboard noise.
void NssDatabase::WriteNoise() const {
  std::string noise(2048, '\0');
  FILE* random = std::fopen("/dev/urandom", "rb");
  const bool seeded = random != nullptr && std::fread(noise.data(), 1, noise.size(), random) == noise.size();
  if (random != nullptr) std::fclose(random);
  if (!seeded) throw std::runtime_error("cannot read /dev/urandom");
  WriteFile(dir_ / "noise.bin", noise);
}

NssDatabase NssDatabase::Create(const std::string& password) {
  NssDatabase db(password);
  db.WriteNoise();
  if (password.empty()) {
    db.Require({Tool("certutil"), "-N", "-d", db.location(), "--empty-password"});
  } else {
    WriteFile(db.dir_ / "password.txt", password + "\n");
    db.Require({Tool("certutil"), "-N", "-d", db.location(), "-f", db.dir_ / "password.txt"});
  }
  return db;
}

NssDatabase NssDatabase::CopyOf(const std::string& directory, const std::string& password) {
  NssDatabase db(password);
  fs::copy(directory, db.directory(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  db.WriteNoise();
  return db;
}

void NssDatabase::AddCertificate(const CertificateRequest& request) {
  std::vector<std::string> args = {"-S", "-n", request.nickname, "-s", request.subject, "-t", ",,", "-k", "rsa",
                                   "-g", "2048", "-Z", "SHA256", "-m", std::to_string(request.serial), "-v", "240",
                                   "-z", dir_ / "noise.bin"};
  if (request.issuer.empty()) {
    args.push_back("-x");
  } else {
    args.push_back("-c");
    args.push_back(request.issuer);
  }
  Require(Certutil(args));
}

void NssDatabase::ImportCertificate(const std::string& nickname, const std::string& derFile) {
  Require(Certutil({"-A", "-n", nickname, "-t", ",,", "-i", derFile}));
}

void NssDatabase::DeleteCertificate(const std::string& nickname) { Require(Certutil({"-D", "-n", nickname})); }

void NssDatabase::ImportPkcs12(const std::string& file, const std::string& filePassword) {
  std::vector<std::string> argv = {Tool("pk12util"), "-i", file, "-d", location(), "-W", filePassword};
  if (password_.empty()) {
    argv.insert(argv.end(), {"-K", ""});
  } else {
    argv.insert(argv.end(), {"-k", dir_ / "password.txt"});
  }
  Require(argv);
}

void NssDatabase::ExportPkcs12(const std::string& nickname, const std::string& file,
                               const std::string& filePassword) const {
  std::vector<std::string> argv = {Tool("pk12util"), "-o", file, "-n", nickname, "-d", location(), "-W", filePassword};
  if (password_.empty()) {
    argv.insert(argv.end(), {"-K", ""});
  } else {
    argv.insert(argv.end(), {"-k", dir_ / "password.txt"});
  }
  Require(argv);
}

void NssDatabase::ExportDer(const std::string& nickname, const std::string& file) const {
  Require(Certutil({"-L", "-n", nickname, "-r", "-o", file}));
}

void NssDatabase::ExportPem(const std::string& nickname, const std::string& file) const {
  Require(Certutil({"-L", "-n", nickname, "-a", "-o", file}));
}

namespace {

void BuildStandardStore(const std::string& directory) {
  using namespace fixture;
  NssDatabase db = NssDatabase::Create();
  const auto add = [&db](const FixtureCertificate& c, const std::string& issuer, long serial) {
    db.AddCertificate({c.nickname, c.subject, issuer, serial});
  };
  add(kCa, "", 1);
  add(kSigner, kCa.nickname, 0x013CFF0A);
  add(kSecond, kCa.nickname, 0x8F00AB);
  add(kUnicode, "", 5);
  add(kTwinPrintable, "", 100);
  add(kTwinUtf8, "", 101);
  add(kTwinLeafA, kTwinPrintable.nickname, 0x42);
  add(kTwinLeafB, kTwinUtf8.nickname, 0x42);

  // The public-only certificate: its key pair is made in a scratch database, which keeps the
  // private key; the CA signs the request and only the certificate comes into the store.
  NssDatabase scratch = NssDatabase::Create();
  const std::string request = scratch.directory() + "/request.der";
  const std::string certificate = scratch.directory() + "/public-only.der";
  const CommandResult made = RunCommand({"certutil", "-R", "-d", scratch.location(), "-s", kPublicOnly.subject, "-k",
                                         "rsa", "-g", "2048", "-o", request, "-z", scratch.directory() + "/noise.bin"});
  if (made.status != 0) throw std::runtime_error("certutil -R failed: " + made.output);
  const CommandResult signed_ = RunCommand({"certutil", "-C", "-d", db.location(), "-c", kCa.nickname, "-i", request,
                                            "-o", certificate, "-m", "77", "-v", "240"});
  if (signed_.status != 0) throw std::runtime_error("certutil -C failed: " + signed_.output);
  db.ImportCertificate(kPublicOnly.nickname, certificate);

  fs::create_directories(directory);
  // pkcs11.txt names the directory it was made in; NSS writes a fresh one where the copy is opened.
  for (const char* file : {"cert9.db", "key4.db"})
    fs::copy_file(db.directory() + "/" + file, directory + "/" + file, fs::copy_options::overwrite_existing);
}

std::string StandardStoreCache() {
  return fs::weakly_canonical(fs::path(QUILLBOX_FAKE_DIR) / ".." / (std::string("nss-store-") + kStoreVersion));
}

struct FileLock {
  explicit FileLock(const std::string& path) : fd(open(path.c_str(), O_CREAT | O_RDWR, 0600)) {
    if (fd < 0 || flock(fd, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + path);
  }
  ~FileLock() {
    flock(fd, LOCK_UN);
    close(fd);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  int fd;
};

}  // namespace

NssDatabase StandardStore() {
  const std::string cache = StandardStoreCache();
  fs::create_directories(fs::path(cache).parent_path());
  {
    // Test programs run in parallel: one builds, the others wait for it.
    FileLock lock(cache + ".lock");
    if (!fs::exists(cache + "/cert9.db")) {
      const std::string building = cache + ".building";
      fs::remove_all(building);
      BuildStandardStore(building);
      fs::remove_all(cache);
      fs::rename(building, cache);
    }
  }
  return NssDatabase::CopyOf(cache);
}

namespace {
std::unique_ptr<NssDatabase>& EnvironmentStore() {
  static std::unique_ptr<NssDatabase> store;
  return store;
}
}  // namespace

void UseAsStore(const NssDatabase& database) {
  setenv("QUILLBOX_NSS_DB", database.location().c_str(), 1);
  unsetenv("QUILLBOX_NSS_PASSWORD_FILE");
}

void ExpectNssClosesCleanly() {
  SetLastError(0);
  EXPECT_TRUE(QbCryptCloseSession()) << "NSS was still busy at the end: a certificate or key reference leaked";
}

void StandardStoreEnvironment::SetUp() {
  EnvironmentStore() = std::make_unique<NssDatabase>(StandardStore());
  UseAsStore(*EnvironmentStore());
}

void StandardStoreEnvironment::TearDown() {
  ExpectNssClosesCleanly();
  EnvironmentStore().reset();
}

const NssDatabase& StandardStoreEnvironment::Store() { return *EnvironmentStore(); }

}  // namespace quillbox::test
