// The password prompt on the controlling terminal, for sessions without a display. Texts are
// kept in UTF-8 and written in the terminal's encoding (the ANSI code page, which the locale names).
#include "display_text.h"
#include "frontends.h"

#include <cstring>

namespace qb::cryptdlg {

bool AskPasswordOnTerminal(Terminal& terminal, const PasswordRequest& request, char* buffer, DWORD size) {
  const std::string prompt = PasswordWarning(request) + PasswordQuestion(request);
  const Terminal::QuietInput quiet(terminal);
  if (!terminal.Write(Utf8ToAnsi(prompt))) return false;
  // Read a little more than fits, so that a password too long is recognised as such.
  auto line = terminal.ReadLine(size, true);
  if (!line) return false;
  std::string password = line->tooLong ? std::string() : AnsiToUtf8(line->text);
  Wipe(line->text);
  const bool fits = !line->tooLong && !password.empty() && password.size() < size;
  if (fits) std::memcpy(buffer, password.c_str(), password.size() + 1);
  if (line->tooLong || password.size() >= size) terminal.Write(request.pin ? "The PIN is too long.\n" : "The password is too long.\n");
  Wipe(password);
  return fits;
}

}  // namespace qb::cryptdlg
