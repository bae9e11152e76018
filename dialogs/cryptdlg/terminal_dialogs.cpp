// The dialogs as prompts on the controlling terminal, for sessions without a display. Texts are
// kept in UTF-8 and written in the terminal's encoding (the ANSI code page, which the locale names).
#include "display_text.h"
#include "frontends.h"

#include <charconv>
#include <cstring>

namespace qb::cryptdlg {
namespace {

constexpr int kChoiceAttempts = 3;
constexpr std::size_t kChoiceInputLimit = 64;

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::optional<std::size_t> ParseChoice(std::string_view text, std::size_t count) {
  std::size_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value < 1 || value > count) return std::nullopt;
  return value - 1;
}

std::string Listing(const std::string& title, const std::vector<CertificateRow>& rows) {
  std::string text = "\n" + title + "\n\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const CertificateRow& row = rows[i];
    text += "  " + std::to_string(i + 1) + ". " + row.subject + "\n";
    text += "     Issuer:        " + row.issuer + "\n";
    text += "     Serial number: " + row.serial + "\n";
    text += "     Valid from:    " + row.notBefore + "\n";
    text += "     Valid to:      " + row.notAfter + "\n";
  }
  return text;
}

}  // namespace

std::optional<std::size_t> ChooseOnTerminal(Terminal& terminal, const std::string& title,
                                            const std::vector<CertificateRow>& rows) {
  if (rows.empty()) {
    terminal.Write(Utf8ToAnsi("\n" + title + "\n\nThere are no certificates to choose from.\n"));
    return std::nullopt;
  }
  if (!terminal.Write(Utf8ToAnsi(Listing(title, rows)))) return std::nullopt;
  const std::string prompt = "\nCertificate number (1-" + std::to_string(rows.size()) + "), empty to cancel: ";
  for (int attempt = 0; attempt < kChoiceAttempts; ++attempt) {
    if (!terminal.Write(prompt)) return std::nullopt;
    const auto line = terminal.ReadLine(kChoiceInputLimit);
    if (!line) {
      terminal.Write("\n");
      return std::nullopt;
    }
    const std::string_view answer = Trimmed(line->text);
    if (!line->tooLong && answer.empty()) return std::nullopt;
    if (!line->tooLong) {
      if (const auto choice = ParseChoice(answer, rows.size())) return choice;
    }
    terminal.Write("That is not a number from 1 to " + std::to_string(rows.size()) + ".\n");
  }
  terminal.Write("No certificate chosen.\n");
  return std::nullopt;
}

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
