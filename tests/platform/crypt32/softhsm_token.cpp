#include "platform/crypt32/softhsm_token.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>

namespace quillbox::test {
namespace {

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

void Require(const CommandResult& result, const std::string& what) {
  if (result.status != 0) throw std::runtime_error(what + " failed: " + result.output);
}

std::string SoftHsmModule() {
  for (const char* path : {"/usr/lib/softhsm/libsofthsm2.so", "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so",
                           "/usr/lib64/softhsm/libsofthsm2.so"}) {
    if (IsFile(path)) return path;
  }
  return {};
}

SoftHsmToken::SoftHsmToken(std::string label, std::string pin, const std::string& module)
    : dir_("quillbox-softhsm"), label_(std::move(label)), pin_(std::move(pin)), module_(module) {
  WriteFile(dir_ / "softhsm2.conf", "directories.tokendir = " + dir_.path() +
                                        "\nobjectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n");
  setenv("SOFTHSM2_CONF", (dir_ / "softhsm2.conf").c_str(), 1);
  Require(RunCommand({"softhsm2-util", "--init-token", "--free", "--label", label_, "--pin", pin_, "--so-pin",
                      "so-" + pin_}),
          "softhsm2-util --init-token");
}

void SoftHsmToken::AddTo(const NssDatabase& database, const std::string& moduleName) const {
  Require(RunCommand({"modutil", "-dbdir", database.location(), "-add", moduleName, "-libfile", module_, "-force"}),
          "modutil -add");
}

void SoftHsmToken::Import(const NssDatabase& database, const std::string& p12, const std::string& p12Password) const {
  WriteFile(dir_ / "p12-password", p12Password + "\n");
  WriteFile(dir_ / "pin", pin_ + "\n");
  Require(RunCommand({"pk12util", "-i", p12, "-d", database.location(), "-h", label_, "-k", dir_ / "pin", "-w",
                      dir_ / "p12-password"}),
          "pk12util -h");
}

std::string MakePkcs12(const std::string& directory, const std::string& name, const std::string& subject,
                       const std::string& password, long serial) {
  const std::string base = directory + "/" + name;
  Require(RunCommand({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key", "-out",
                      base + ".pem", "-subj", subject, "-days", "30", "-addext", "keyUsage=digitalSignature",
                      "-set_serial", std::to_string(serial)}),
          "openssl req");
  Require(RunCommand({"openssl", "pkcs12", "-export", "-in", base + ".pem", "-inkey", base + ".key", "-out",
                      base + ".p12", "-name", name, "-passout", "pass:" + password}),
          "openssl pkcs12");
  return base + ".p12";
}

}  // namespace quillbox::test
