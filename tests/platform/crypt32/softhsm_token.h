// A SoftHSM2 token in a temporary directory of its own (SOFTHSM2_CONF points at its configuration,
// for this process and the commands it runs), added to an NSS database with modutil, as a user
// adds a smart card to Chromium's or Firefox's database.
#pragma once

#include "support/nss_store.h"
#include "support/process.h"

#include <string>

namespace quillbox::test {

// The SoftHSM2 module, or "" when SoftHSM2 is not installed.
std::string SoftHsmModule();

class SoftHsmToken {
 public:
  SoftHsmToken(std::string label, std::string pin, const std::string& module = SoftHsmModule());

  const std::string& label() const { return label_; }
  const std::string& pin() const { return pin_; }
  const std::string& directory() const { return dir_.path(); }

  // Loads the module into `database` (modutil -add), so that NSS opens the token with it.
  void AddTo(const NssDatabase& database, const std::string& moduleName = "softhsm") const;
  // Puts the certificate and key of a PKCS#12 file on the token (pk12util -h), through `database`.
  void Import(const NssDatabase& database, const std::string& p12, const std::string& p12Password) const;

 private:
  TempDir dir_;
  std::string label_;
  std::string pin_;
  std::string module_;
};

// An openssl-issued self-signed certificate and key as a PKCS#12 file in `directory`. Returns the
// file's path. The serial is short: what these tests look at is where the key is, not the serial.
std::string MakePkcs12(const std::string& directory, const std::string& name, const std::string& subject,
                       const std::string& password, long serial = 4242);

void Require(const CommandResult& result, const std::string& what);

}  // namespace quillbox::test
