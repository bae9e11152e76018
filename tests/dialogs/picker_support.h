// Shared pieces of the dialog tests: loading the module as the component does, a selection
// request filled as the component fills it, and a standard set of fake certificates.
#pragma once

#include "dialogs/fake_store.h"

#include <windows.h>
#include <cryptdlg.h>
#include <qbconsent.h>
#include <qbcrypt.h>

#include <string>
#include <vector>

namespace quillbox::test {

inline constexpr const char* kPickerTitle = "Izberite certifikat";

// cryptdlg loaded by its Windows name for the life of the object.
class CryptdlgModule {
 public:
  CryptdlgModule();
  CryptdlgModule(const CryptdlgModule&) = delete;
  CryptdlgModule& operator=(const CryptdlgModule&) = delete;
  ~CryptdlgModule();

  bool Loaded() const { return select_ != nullptr && password_ != nullptr; }
  BOOL Select(CERT_SELECT_STRUCT_A* request) const { return select_(request); }
  // The native messaging host's question for a web page's origin; null when the module lacks it.
  PFNQBASKSITECONSENTA AskSiteConsent() const { return consent_; }
  // A database's password, as the store asks for it on a first try or a retry.
  BOOL Password(const char* token, BOOL retry, char* buffer, DWORD size) const {
    QB_CRYPT_PASSWORD_REQUEST request = PasswordRequest(token);
    request.retry = retry;
    request.triesLeft = retry ? 2 : 3;
    return password_(nullptr, &request, buffer, size);
  }
  BOOL Password(const QB_CRYPT_PASSWORD_REQUEST& request, char* buffer, DWORD size) const {
    return password_(nullptr, &request, buffer, size);
  }
  static QB_CRYPT_PASSWORD_REQUEST PasswordRequest(const char* token, bool pin = false) {
    QB_CRYPT_PASSWORD_REQUEST request{};
    request.cbSize = sizeof request;
    request.tokenName = token;
    request.database = "";
    request.pin = pin ? TRUE : FALSE;
    request.triesLeft = 3;
    return request;
  }

 private:
  using PasswordPrompt = QB_CRYPT_PASSWORD_PROMPT;
  HMODULE module_ = nullptr;
  PFNCERTSELECTCERTIFICATEA select_ = nullptr;
  PasswordPrompt password_ = nullptr;
  PFNQBASKSITECONSENTA consent_ = nullptr;
};

// A request over one store, as the component sends it: no owner, no template, no filter, no
// certificate chosen in advance, an empty help file name.
struct SelectRequest {
  explicit SelectRequest(HCERTSTORE store, const char* title = kPickerTitle);
  SelectRequest(const SelectRequest&) = delete;
  SelectRequest& operator=(const SelectRequest&) = delete;

  HCERTSTORE stores[1];
  PCCERT_CONTEXT chosen[1] = {nullptr};
  CERT_SELECT_STRUCT_A request{};
};

// Three certificates with distinct names and serials (one with a leading zero byte), in this
// order: Ana Novak's expired (key in the software database, for signing), Bojan Kralj's valid
// but for key encipherment only, and Cvetka Zupan's valid for signing with its key on a card,
// the one the picker suggests.
std::vector<FakeCertificateDescription> SampleCertificates();

// A date as the picker writes it in the row (`format` is the strftime form of the language).
std::string DateOf(const FILETIME& time, const char* format = "%Y-%m-%d");

// "result=R count=C chosen=I outstanding=O": the outcome of a call in one comparable text,
// where I is the index of the chosen certificate in `store` (-1 for none).
std::string Outcome(BOOL result, const SelectRequest& request, const FakeStore& store);

}  // namespace quillbox::test
