// The question to the user as the dialog module's window (QbAskSiteConsentA of cryptdlg.dll),
// so that the host itself never links a toolkit. No module or no display: nobody is asked.
#pragma once

#include "bridge/site_consent.h"

#include <windows.h>

namespace quillbox::bridge {

class ConsentDialog : public ConsentAsker {
 public:
  ConsentAnswer Ask(std::string_view origin, ConsentUse use) override;

 private:
  // Loaded at the first question and kept: the module cannot unload once GTK is up.
  HMODULE module_ = nullptr;
};

}  // namespace quillbox::bridge
