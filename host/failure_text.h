// The one line a failed sign or transform prints: "ERR_NAME (number): what happened", worded for
// the person at the keyboard from the component's error number, its description and what the
// command knows about its own inputs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillbox::host {

// The parts of an ErrorDesc, as the component's crypto-error callback assembles it from one
// report of the signature library: "Error in FILE, Function: F, Object: O, Subject: S,
// Message: M, ", each part present only when the library gave it.
struct LibraryReport {
  std::string file = {};
  std::string function = {};
  std::string object = {};
  std::string subject = {};
  std::string message = {};
};
// Nullopt when the text is not shaped like such a description (it is then shown as it stands).
std::optional<LibraryReport> ParseLibraryReport(std::string_view description);

// What the command knows beside the component's error state.
struct FailureContext {
  std::string subject = {};  // --subject, as given
  std::string issuer = {};   // --issuer and --serial, as handed to the component
  std::string serial = {};
  std::string store = {};    // the database the personal store was looked for in
  std::string storeProblem = {};  // what is wrong with it, when something is known ("its key database ...")
  // For 13 and 37: "FILE, line L, column C: parser message", from parsing the input once more.
  std::string parseProblem = {};
};

// A sentence for each error number the component records; nullopt for a number it has none for.
std::optional<std::string> ErrorSentence(long number);

// The whole line, without its newline. `verbose` adds the library's source file and function.
std::string FailureLine(std::string_view name, long number, std::string_view description,
                        const FailureContext& context, bool verbose);

// --verbose: set once by main before the command runs.
void SetVerboseFailures(bool verbose);
bool VerboseFailures();

}  // namespace quillbox::host
