// Helpers shared by the component-side certificate tests.
#pragma once

#include "fake_cryptdlg.h"
#include "support/bstr_helpers.h"
#include "support/nss_store.h"
#include "support/utf_text.h"

#include <windows.h>
#include <qbcrypt.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace quillbox::test {

using Bytes = std::vector<BYTE>;

inline Bytes DerOf(const FixtureCertificate& certificate) {
  TempDir dir;
  StandardStoreEnvironment::Store().ExportDer(certificate.nickname, dir / "cert.der");
  const std::string der = ReadFile(dir / "cert.der");
  return Bytes(der.begin(), der.end());
}

inline Bytes EncodedOf(PCCERT_CONTEXT certificate) {
  if (certificate == nullptr) return {};
  return Bytes(certificate->pbCertEncoded, certificate->pbCertEncoded + certificate->cbCertEncoded);
}

// Whether a file is mapped into this process.
inline bool IsMapped(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(path) != std::string::npos) return true;
  return false;
}

// Puts one of the stand-in selection dialogs first on the library search path. Holding its own
// reference keeps the module (and what it recorded) loaded for the test to read.
class FakeDialog {
 public:
  explicit FakeDialog(const std::string& mode, const std::string& choice = "")
      : directory_(std::string(QUILLBOX_FAKE_DIR) + "/cryptdlg-" + mode) {
    setenv("QUILLBOX_DLL_PATH", directory_.c_str(), 1);
    setenv("QUILLBOX_FAKE_CHOICE", choice.c_str(), 1);
    module_ = LoadLibraryA(path().c_str());
    EXPECT_NE(module_, nullptr) << path();
  }
  ~FakeDialog() {
    if (module_ != nullptr) FreeLibrary(module_);
    unsetenv("QUILLBOX_DLL_PATH");
    unsetenv("QUILLBOX_FAKE_CHOICE");
  }
  FakeDialog(const FakeDialog&) = delete;
  FakeDialog& operator=(const FakeDialog&) = delete;

  std::string path() const { return directory_ + "/cryptdlg.so"; }
  const FakeRequestRecord& last() const {
    static const FakeRequestRecord none;
    const auto read = reinterpret_cast<FakeLastRequestFn>(GetProcAddress(module_, "FakeLastRequest"));
    return read != nullptr ? *read() : none;
  }
  void Choose(const std::string& choice) { setenv("QUILLBOX_FAKE_CHOICE", choice.c_str(), 1); }

 private:
  std::string directory_;
  HMODULE module_ = nullptr;
};

}  // namespace quillbox::test
