// quillbox: the command that people who sign XML use, and the script host for the component.
#include "host/allocator_tuning.h"
#include "host/cli.h"
#include "host/commands.h"
#include "host/dispatch.h"
#include "host/failure_text.h"
#include "host/files.h"
#include "host/xml_file.h"

#include <qbcrypt.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace quillbox::host;

// --store, --registry and --password-file name what the platform opens and how it logs in; they
// must be in the environment before the first call that opens a database. Before the command they
// are global; after it (except for run, whose arguments belong to the script) they are taken out of
// the command's arguments, all but `except`.
void TakeGlobalOptions(std::vector<std::string>& arguments, bool leadingOnly, const std::string& except = {}) {
  static const std::map<std::string, const char*> kAll = {{"--store", "QUILLBOX_NSS_DB"},
                                                          {"--registry", "QUILLBOX_REGISTRY"},
                                                          {"--password-file", "QUILLBOX_NSS_PASSWORD_FILE"}};
  std::map<std::string, const char*> variables = kAll;
  variables.erase(except);
  for (std::size_t i = 0; i < arguments.size();) {
    std::string name = arguments[i];
    std::string value;
    std::size_t used = 1;
    if (name == "--") break;
    if (name == "--verbose") {  // a flag: where in the libraries a failure was reported
      SetVerboseFailures(true);
      arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    if (const auto equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    } else if (variables.contains(name)) {
      if (i + 1 >= arguments.size()) throw UsageError("the option " + name + " needs a value");
      value = arguments[i + 1];
      used = 2;
    }
    const auto variable = variables.find(name);
    if (variable == variables.end()) {
      if (leadingOnly) break;
      ++i;
      continue;
    }
    if (value.empty()) throw UsageError("the option " + name + " needs a value");
    setenv(variable->second, value.c_str(), 1);
    arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                    arguments.begin() + static_cast<std::ptrdiff_t>(i + used));
  }
}

// A database or token that needs a password asks the person at the keyboard through the dialog
// module (a window, or the terminal), as the browser would; the platform asks the password file
// instead when one is named. The module stays loaded for the process, so the prompt it hands over
// stays valid.
void InstallPasswordPrompt() {
  HMODULE dialogs = LoadLibraryA("cryptdlg.dll");
  if (dialogs == nullptr) return;
  if (auto prompt = reinterpret_cast<QB_CRYPT_PASSWORD_PROMPT>(GetProcAddress(dialogs, "QbPromptPasswordA"))) {
    QbCryptSetPasswordPrompt(prompt, nullptr);
  }
}

int Dispatch(const std::string& command, const Arguments& arguments) {
  InstallPasswordPrompt();
  if (command == "run") return RunCommand(arguments);
  if (command == "sign") return SignCommand(arguments);
  if (command == "transform") return TransformCommand(arguments);
  if (command == "verify") return VerifyCommand(arguments);
  if (command == "certs") return CertsCommand(arguments);
  if (command == "register") return RegisterCommand(arguments);
  return UnregisterCommand(arguments);
}

// Ends the NSS session before main returns, with the output written first: shutting NSS down
// finalises the PKCS#11 modules it loaded, and a module that misbehaves then should find the
// output already out. (The platform also ends the session at exit; this makes it explicit.)
struct SessionEnd {
  SessionEnd() = default;
  SessionEnd(const SessionEnd&) = delete;
  SessionEnd& operator=(const SessionEnd&) = delete;
  ~SessionEnd() {
    std::fflush(stdout);
    QbCryptCloseSession();
  }
};

}  // namespace

int main(int argc, char** argv) {
  TuneAllocatorForWholeDocuments();
  const SessionEnd sessionEnd;
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string command;
  try {
    TakeGlobalOptions(arguments, true);
    if (arguments.empty()) throw UsageError("no command given");
    // Whatever is left before the command word is not a global option.
    if (arguments.front().starts_with("-") && arguments.front() != "--help") {
      throw UsageError("unknown option " + arguments.front());
    }
    if (arguments.front() == "--help" || arguments.front() == "help") {
      const std::string topic = arguments.size() > 1 ? arguments[1] : "";
      if (!topic.empty() && !IsCommand(topic)) throw UsageError("unknown command " + topic);
      std::fputs(HelpOf(topic).c_str(), stdout);
      FlushStandardOutput();
      return 0;
    }
    command = arguments.front();
    if (!IsCommand(command)) {
      const std::string unknown = command;
      command.clear();
      throw UsageError("unknown command " + unknown);
    }
    arguments.erase(arguments.begin());
    // After "certs", --password-file is import's own: the PKCS#12 file's password.
    if (command != "run") TakeGlobalOptions(arguments, false, command == "certs" ? "--password-file" : "");
    const int status = Dispatch(command, arguments);
    FlushStandardOutput();
    return status;
  } catch (const UsageError& error) {
    std::fprintf(stderr, "quillbox%s%s: %s\n%s", command.empty() ? "" : " ", command.c_str(), error.what(),
                 UsageOf(command).c_str());
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillbox: %s\n", error.what());
    return 1;
  }
}
