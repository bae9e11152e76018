#include "bridge/consent_dialog.h"

#include <qbconsent.h>

#include <cstdio>
#include <string>

namespace quillbox::bridge {
namespace {

DWORD UseCode(ConsentUse use) {
  switch (use) {
    case ConsentUse::kSign: return QB_SITE_USE_SIGN;
    case ConsentUse::kTransform: return QB_SITE_USE_TRANSFORM;
    case ConsentUse::kChooseCertificate: break;
  }
  return QB_SITE_USE_CHOOSE_CERTIFICATE;
}

}  // namespace

ConsentAnswer ConsentDialog::Ask(std::string_view origin, ConsentUse use) {
  if (module_ == nullptr) module_ = LoadLibraryA("cryptdlg.dll");
  const auto ask = module_ != nullptr
                       ? reinterpret_cast<PFNQBASKSITECONSENTA>(GetProcAddress(module_, "QbAskSiteConsentA"))
                       : nullptr;
  if (ask == nullptr) {
    std::fputs("quillbox-native-host: the dialog module (cryptdlg.so) cannot ask; the site is refused\n", stderr);
    return ConsentAnswer::kNotAsked;
  }
  const std::string text(origin);
  switch (ask(text.c_str(), UseCode(use))) {
    case QB_SITE_CONSENT_ONCE: return ConsentAnswer::kOnce;
    case QB_SITE_CONSENT_ALWAYS: return ConsentAnswer::kAlways;
    case QB_SITE_CONSENT_NOT_ASKED: return ConsentAnswer::kNotAsked;
    default: return ConsentAnswer::kDeny;
  }
}

}  // namespace quillbox::bridge
