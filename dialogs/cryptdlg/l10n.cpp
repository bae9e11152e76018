#include "l10n.h"

#include <windows.h>
#include <dllentry.h>

#include <libintl.h>
#include <locale.h>

#include <mutex>

namespace qb::cryptdlg {
namespace {

constexpr const char* kDomain = "quillbox-cryptdlg";

// The catalogues lie beside the module (bin/locale/... in the build tree and when installed),
// wherever that was loaded from; the host's own text domain and search path are left alone.
void BindCatalogue() {
  char path[4096] = {};
  const HMODULE self = QbModuleFromAddress(reinterpret_cast<const void*>(&BindCatalogue));
  const DWORD length = self != nullptr ? GetModuleFileNameA(self, path, sizeof path) : 0;
  std::string directory(path, length > 0 && length < sizeof path ? length : 0);
  const auto slash = directory.rfind('/');
  directory = slash == std::string::npos ? std::string(".") : directory.substr(0, slash);
  bindtextdomain(kDomain, (directory + "/locale").c_str());
  // Always UTF-8, whatever the locale's character set: GTK takes UTF-8, the terminal prompts
  // convert to the terminal's own encoding themselves.
  bind_textdomain_codeset(kDomain, "UTF-8");
}

// The user's message locale (LC_ALL, LC_MESSAGES, LANG) on this thread while it lives. gettext
// follows the thread's locale, and also LANGUAGE unless that locale is "C"; the host process
// itself may never have called setlocale, and GTK is kept from calling it. A locale the system
// does not have counts as C.UTF-8: LANGUAGE still chooses then, but the catalogue is English.
locale_t UserMessageLocale() {
  if (locale_t own = newlocale(LC_MESSAGES_MASK, "", static_cast<locale_t>(nullptr))) return own;
  return newlocale(LC_MESSAGES_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
}

class MessageLocale {
 public:
  MessageLocale() : own_(UserMessageLocale()) {
    if (own_ != static_cast<locale_t>(nullptr)) previous_ = uselocale(own_);
  }
  MessageLocale(const MessageLocale&) = delete;
  MessageLocale& operator=(const MessageLocale&) = delete;
  ~MessageLocale() {
    if (own_ == static_cast<locale_t>(nullptr)) return;
    uselocale(previous_);
    freelocale(own_);
  }

 private:
  locale_t own_;
  locale_t previous_ = static_cast<locale_t>(nullptr);
};

}  // namespace

std::string Tr(const char* english) {
  static std::once_flag bound;
  std::call_once(bound, BindCatalogue);
  const MessageLocale scope;
  return dgettext(kDomain, english);
}

std::string Tr(const char* english, std::string_view value) {
  std::string text = Tr(english);
  if (const auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, value);
  return text;
}

}  // namespace qb::cryptdlg
