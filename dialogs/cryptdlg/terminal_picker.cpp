// The certificate picker on the controlling terminal, for sessions without a display: the same
// facts per certificate as the window shows, numbered; the full names of one on request ("?N").
// Texts are kept in UTF-8 and written in the terminal's encoding (the ANSI code page).
#include "display_text.h"
#include "frontends.h"
#include "l10n.h"
#include "picker_texts.h"

#include <algorithm>
#include <charconv>

namespace qb::cryptdlg {
namespace {

constexpr int kChoiceAttempts = 3;
constexpr std::size_t kChoiceInputLimit = 64;
constexpr std::string_view kIndent = "     ";

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

std::string Listing(const std::string& title, const std::vector<CertificateRow>& rows, std::size_t suggested) {
  std::string text = "\n" + title + "\n\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const CertificateRow& row = rows[i];
    text += (i == suggested ? "* " : "  ") + std::to_string(i + 1) + ". " + row.holder;
    for (const std::string& mark : Marks(row)) text += "  [" + mark + "]";
    text += "\n";
    text += std::string(kIndent) + IssuerText(row) + "; " + ValidityText(row) + "; " + KeyText(row) + "\n";
  }
  if (rows.size() > 1) text += "\n" + Tr(QB_N_("* the suggested certificate")) + "\n";
  return text;
}

// Characters, not bytes, so that the values line up in any language (UTF-8 continuation bytes
// do not count).
std::size_t Columns(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  return count;
}

std::string DetailsText(const CertificateRow& row, std::size_t number) {
  const auto fields = Details(row);
  std::size_t width = 0;
  for (const auto& [label, value] : fields) width = std::max(width, Columns(label));
  std::string text = "\n" + std::to_string(number) + ". " + row.holder + "\n";
  for (const auto& [label, value] : fields)
    text += std::string(kIndent) + label + ":" + std::string(width - Columns(label) + 1, ' ') + value + "\n";
  return text;
}

}  // namespace

std::optional<std::size_t> ChooseOnTerminal(Terminal& terminal, const std::string& title,
                                            const std::vector<CertificateRow>& rows, std::size_t suggested) {
  if (rows.empty()) {
    const std::string nothing = Tr(QB_N_("There are no certificates to choose from."));
    terminal.Write(Utf8ToAnsi("\n" + PickerTitle(title) + "\n\n" + nothing + "\n"));
    return std::nullopt;
  }
  if (suggested >= rows.size()) suggested = 0;
  if (!terminal.Write(Utf8ToAnsi(Listing(PickerTitle(title), rows, suggested)))) return std::nullopt;
  const std::string count = std::to_string(rows.size());
  // TRANSLATORS: %s is the number of certificates; "?N" is typed as it stands.
  const std::string prompt =
      Utf8ToAnsi("\n" + Tr(QB_N_("Certificate number (1-%s), ?N for its details, empty to cancel: "), count));
  int attempts = 0;
  while (attempts < kChoiceAttempts) {
    if (!terminal.Write(prompt)) return std::nullopt;
    const auto line = terminal.ReadLine(kChoiceInputLimit);
    if (!line) {
      terminal.Write("\n");
      return std::nullopt;
    }
    const std::string_view answer = Trimmed(line->text);
    if (!line->tooLong && answer.empty()) return std::nullopt;
    if (!line->tooLong && answer.front() == '?') {
      // Asking about a certificate is not a wrong answer.
      if (const auto row = ParseChoice(Trimmed(answer.substr(1)), rows.size())) {
        terminal.Write(Utf8ToAnsi(DetailsText(rows[*row], *row + 1)));
        continue;
      }
    } else if (!line->tooLong) {
      if (const auto choice = ParseChoice(answer, rows.size())) return choice;
    }
    terminal.Write(Utf8ToAnsi(Tr(QB_N_("That is not a number from 1 to %s."), count) + "\n"));
    ++attempts;
  }
  terminal.Write(Utf8ToAnsi(Tr(QB_N_("No certificate chosen.")) + "\n"));
  return std::nullopt;
}

}  // namespace qb::cryptdlg
