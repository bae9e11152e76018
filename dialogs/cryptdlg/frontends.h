// The ways a dialog can reach the user: a GTK window when there is a display, a prompt on the
// controlling terminal when there is one, otherwise none (which answers as a cancel).
#pragma once

#include "certificate_list.h"
#include "terminal.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qb::cryptdlg {

// What the password prompt is asked; texts are UTF-8.
struct PasswordRequest {
  std::string tokenName;
  std::string database;    // the database a software token belongs to; empty for a card
  bool pin = false;        // a card's PIN rather than a database password
  bool retry = false;      // the previous answer was wrong
  unsigned triesLeft = 0;  // answers still taken, this one included; 0 when not told
  bool finalTry = false;   // the token locks after one more wrong PIN
  bool countLow = false;   // the token has seen a wrong PIN since the last right one
};

// The texts both prompts show: what went wrong before (empty on a first try, else one or more
// lines, each ending in a line break) and the question itself ("PIN for Card: " on a terminal).
std::string PasswordWarning(const PasswordRequest& request);
std::string PasswordQuestion(const PasswordRequest& request);

// True when a display is named in the environment and GTK can open it. GTK is initialised on the
// first call that finds a display and stays initialised for the life of the process.
bool GtkDisplayAvailable();

// Each returns the chosen row (or the password) or nothing when the user cancels. `title` is UTF-8.
// The window starts with `initialRow` selected; the terminal marks it as the suggested one.
std::optional<std::size_t> ChooseInWindow(const std::string& title, const std::vector<CertificateRow>& rows,
                                          std::size_t initialRow);
std::optional<std::size_t> ChooseOnTerminal(Terminal& terminal, const std::string& title,
                                            const std::vector<CertificateRow>& rows, std::size_t suggested);

// The password is written zero-terminated into `buffer` (`size` bytes in all), as UTF-8. A password
// that does not fit is refused rather than cut short.
bool AskPasswordInWindow(const PasswordRequest& request, char* buffer, DWORD size);
bool AskPasswordOnTerminal(Terminal& terminal, const PasswordRequest& request, char* buffer, DWORD size);

// Whether a web page's origin may use the signing component, asked in a window only (a browser's
// user looks at the screen, not at a terminal the browser may have been started from). `use` is
// a QB_SITE_USE.
enum class ConsentChoice { kDenied, kOnce, kAlways };
ConsentChoice AskConsentInWindow(const std::string& origin, DWORD use);

}  // namespace qb::cryptdlg
