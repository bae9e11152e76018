#include "dialogs/picker_support.h"

#include <cstdlib>
#include <ctime>

namespace quillbox::test {

CryptdlgModule::CryptdlgModule() {
  // The test programs live outside bin/, so the module is found through the search path.
  setenv("QUILLBOX_DLL_PATH", QUILLBOX_BIN_DIR, 1);
  module_ = LoadLibraryA("cryptdlg.dll");
  if (module_ == nullptr) return;
  select_ = reinterpret_cast<PFNCERTSELECTCERTIFICATEA>(GetProcAddress(module_, "CertSelectCertificateA"));
  password_ = reinterpret_cast<PasswordPrompt>(GetProcAddress(module_, "QbPromptPasswordA"));
  consent_ = reinterpret_cast<PFNQBASKSITECONSENTA>(GetProcAddress(module_, "QbAskSiteConsentA"));
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

std::vector<FakeCertificateDescription> SampleCertificates() {
  return {
      {"CN=Ana Novak, O=Quillbox Test, C=SI", "CN=Test CA, O=Quillbox Test, C=SI", {0x0A, 0xFF, 0x3C, 0x01},
       FileTimeFromNow(-800), FileTimeFromNow(-30), KeyUsageValue(CERT_DIGITAL_SIGNATURE_KEY_USAGE),
       "NSS Certificate DB"},
      {"CN=Bojan Kralj, O=Quillbox Test, C=SI", "CN=Test CA, O=Quillbox Test, C=SI", {0x42, 0x00},
       FileTimeFromNow(-100), FileTimeFromNow(265), KeyUsageValue(CERT_KEY_ENCIPHERMENT_KEY_USAGE),
       "NSS Certificate DB"},
      {"CN=Cvetka Zupan, O=Druga, C=SI", "O=Other CA, C=SI", {0x80, 0xFF}, FileTimeFromNow(-10),
       FileTimeFromNow(720),
       KeyUsageValue(CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_NON_REPUDIATION_KEY_USAGE), "Cvetka's card", true},
  };
}

std::string DateOf(const FILETIME& time, const char* format) {
  const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  const auto seconds = static_cast<std::time_t>(ticks / 10'000'000ULL - 11'644'473'600ULL);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[64];
  return std::string(text, std::strftime(text, sizeof text, format, &parts));
}

std::string Outcome(BOOL result, const SelectRequest& request, const FakeStore& store) {
  return "result=" + std::to_string(result) + " count=" + std::to_string(request.request.cCertContext) +
         " chosen=" + std::to_string(request.chosen[0] != nullptr ? store.IndexOf(request.chosen[0]) : -1) +
         " outstanding=" + std::to_string(store.OutstandingReferences()) +
         (store.OverReleased() ? " over-released" : "");
}

}  // namespace quillbox::test
