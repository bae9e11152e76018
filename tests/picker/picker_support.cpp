#include "picker/picker_support.h"

#include <cstdlib>

namespace quillbox::test {

CryptdlgModule::CryptdlgModule() {
  // The test programs live outside bin/, so the module is found through the search path.
  setenv("QUILLBOX_DLL_PATH", QUILLBOX_BIN_DIR, 1);
  module_ = LoadLibraryA("cryptdlg.dll");
  if (module_ == nullptr) return;
  select_ = reinterpret_cast<PFNCERTSELECTCERTIFICATEA>(GetProcAddress(module_, "CertSelectCertificateA"));
  password_ = reinterpret_cast<PasswordPrompt>(GetProcAddress(module_, "QbPromptPasswordA"));
}

CryptdlgModule::~CryptdlgModule() {
  if (module_ != nullptr) FreeLibrary(module_);
}

SelectRequest::SelectRequest(HCERTSTORE store, const char* title) : stores{store} {
  request.dwSize = sizeof(CERT_SELECT_STRUCT_A);
  request.szTitle = title;
  request.cCertStore = 1;
  request.arrayCertStore = stores;
  request.cCertContext = 0;
  request.arrayCertContext = chosen;
  request.szHelpFileName = "";
}

std::vector<FakeCertificateSpec> SampleCertificates() {
  return {
      {"CN=Ana Novak, O=Quillbox Test, C=SI", "CN=Test CA, O=Quillbox Test, C=SI", {0x0A, 0xFF, 0x3C, 0x01},
       FileTimeOf(2024, 1, 15, 8, 30), FileTimeOf(2026, 1, 15, 8, 30)},
      {"CN=Bojan Kralj, O=Quillbox Test, C=SI", "CN=Test CA, O=Quillbox Test, C=SI", {0x42, 0x00},
       FileTimeOf(2023, 6, 1), FileTimeOf(2025, 6, 1)},
      {"CN=Cvetka Zupan, O=Druga, C=SI", "CN=Other CA, C=SI", {0x80, 0xFF},
       FileTimeOf(2022, 12, 31, 23, 59, 59), FileTimeOf(2032, 12, 31, 23, 59, 59)},
  };
}

std::string Outcome(BOOL result, const SelectRequest& request, const FakeStore& store) {
  return "result=" + std::to_string(result) + " count=" + std::to_string(request.request.cCertContext) +
         " chosen=" + std::to_string(request.chosen[0] != nullptr ? store.IndexOf(request.chosen[0]) : -1) +
         " outstanding=" + std::to_string(store.OutstandingReferences()) +
         (store.OverReleased() ? " over-released" : "");
}

}  // namespace quillbox::test
