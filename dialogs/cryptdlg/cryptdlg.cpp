// The module's entry points: CertSelectCertificateA with the Windows contract, and the password
// prompt that the certificate store calls when a database or token is locked.
#include "certificate_list.h"
#include "display_text.h"
#include "frontends.h"

#include <windows.h>
#include <cryptdlg.h>
#include <qbconsent.h>
#include <qbcrypt.h>

#include <cstddef>
#include <type_traits>

#define QB_CRYPTDLG_EXPORT extern "C" __attribute__((visibility("default")))

namespace qb::cryptdlg {
namespace {

bool RequestIsUsable(const CERT_SELECT_STRUCT_A* request) {
  // The structure is the native one: 68 bytes on 32-bit Windows, larger here, where pointers and
  // handles are 64-bit. A size smaller than ours means a caller built against another layout.
  if (request == nullptr || request->dwSize < sizeof(CERT_SELECT_STRUCT_A)) return false;
  if (request->arrayCertContext == nullptr) return false;
  if (request->cCertStore > 0 && request->arrayCertStore == nullptr) return false;
  return true;
}

std::optional<std::size_t> AskUser(const std::string& title, const CertificateList& list) {
  if (GtkDisplayAvailable()) return ChooseInWindow(title, list.Rows(), list.InitialRow());
  if (auto terminal = Terminal::Open()) return ChooseOnTerminal(*terminal, title, list.Rows(), list.InitialRow());
  return std::nullopt;
}

}  // namespace
}  // namespace qb::cryptdlg

using namespace qb::cryptdlg;

// Nonzero when the user chose: the count and the first element of the certificate array are then
// written back, and the element is a reference the caller owns. Zero for a cancel, a request that
// cannot be served (bad size or pointers, a store that cannot be enumerated) or no way to ask.
QB_CRYPTDLG_EXPORT BOOL WINAPI CertSelectCertificateA(PCERT_SELECT_STRUCT_A request) {
  if (!RequestIsUsable(request)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto list = CertificateList::Collect(*request);
  if (!list) return FALSE;
  const std::string title = request->szTitle != nullptr ? AnsiToUtf8(request->szTitle) : std::string();
  const auto chosen = AskUser(title, *list);
  if (!chosen) {
    SetLastError(ERROR_CANCELLED);
    return FALSE;
  }
  PCCERT_CONTEXT certificate = list->Take(*chosen);
  if (certificate == nullptr) return FALSE;
  request->arrayCertContext[0] = certificate;
  request->cCertContext = 1;
  return TRUE;
}

// The certificate store's password prompt (its QB_CRYPT_PASSWORD_PROMPT shape). Texts and the
// password are UTF-8. TRUE with the password zero-terminated in `password`; FALSE when the user
// cancels, enters nothing, enters more than fits, or cannot be asked at all.
QB_CRYPTDLG_EXPORT BOOL WINAPI QbPromptPasswordA(void* /*context*/, PQB_CRYPT_PASSWORD_REQUEST request, LPSTR password,
                                                 DWORD size) {
  if (password == nullptr || size < 2) return FALSE;
  password[0] = '\0';
  // The fields up to `triesLeft` are the ones every caller has; the token's counters came later.
  if (request == nullptr || request->cbSize < offsetof(QB_CRYPT_PASSWORD_REQUEST, finalTry)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const bool counters = request->cbSize >= sizeof(QB_CRYPT_PASSWORD_REQUEST);
  PasswordRequest asked;
  asked.tokenName = request->tokenName != nullptr ? ValidUtf8(request->tokenName) : std::string();
  asked.database = request->database != nullptr ? ValidUtf8(request->database) : std::string();
  asked.pin = request->pin != FALSE;
  asked.retry = request->retry != FALSE;
  asked.triesLeft = request->triesLeft;
  asked.finalTry = counters && request->finalTry != FALSE;
  asked.countLow = counters && request->countLow != FALSE;
  bool answered = false;
  if (GtkDisplayAvailable()) {
    answered = AskPasswordInWindow(asked, password, size);
  } else if (auto terminal = Terminal::Open()) {
    answered = AskPasswordOnTerminal(*terminal, asked, password, size);
  }
  if (!answered) SetLastError(ERROR_CANCELLED);
  return answered ? TRUE : FALSE;
}

// The store installs this function as its password prompt (QbCryptSetPasswordPrompt).
static_assert(std::is_same_v<decltype(&QbPromptPasswordA), QB_CRYPT_PASSWORD_PROMPT>);

// The native messaging host's question before a web page may use the component, answered
// with a QB_SITE_CONSENT. Nobody is asked without a display; a null origin is refused.
QB_CRYPTDLG_EXPORT DWORD WINAPI QbAskSiteConsentA(LPCSTR origin, DWORD use) {
  if (origin == nullptr || *origin == '\0') return QB_SITE_CONSENT_DENIED;
  if (!GtkDisplayAvailable()) return QB_SITE_CONSENT_NOT_ASKED;
  switch (AskConsentInWindow(ValidUtf8(origin), use)) {
    case ConsentChoice::kOnce: return QB_SITE_CONSENT_ONCE;
    case ConsentChoice::kAlways: return QB_SITE_CONSENT_ALWAYS;
    case ConsentChoice::kDenied: break;
  }
  return QB_SITE_CONSENT_DENIED;
}

static_assert(std::is_same_v<decltype(&QbAskSiteConsentA), PFNQBASKSITECONSENTA>);
