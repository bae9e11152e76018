#include "host/cli.h"
#include "host/commands.h"
#include "host/component_module.h"
#include "host/files.h"
#include "host/script_host.h"

#include <cstdio>

namespace quillbox::host {

int RunCommand(const Arguments& arguments) {
  const ParsedOptions options = ParseOptions(arguments, {.stopAtPositional = true});
  if (options.Has("--help")) {
    std::fputs(HelpOf("run").c_str(), stdout);
    return 0;
  }
  const auto& positionals = options.Positionals();
  if (positionals.empty()) throw UsageError("the script is missing");
  const std::string& script = positionals.front();
  if (script == "-") throw UsageError("the script must be a file (standard input is the script's own)");
  const std::string source = ReadAll(script);

  js::HostState state;
  state.scriptName = script.substr(script.rfind('/') + 1);
  state.arguments.assign(positionals.begin() + 1, positionals.end());
  state.registerComponent = true;
  Apartment apartment;
  return RunScriptSource(state, source, script);
}

int RegisterCommand(const Arguments& arguments) {
  const ParsedOptions options = ParseOptions(arguments, {});
  if (options.Has("--help")) {
    std::fputs(HelpOf("register").c_str(), stdout);
    return 0;
  }
  if (options.Positionals().size() > 1) throw UsageError("more than one module");
  const std::string module = options.Positionals().empty() ? DefaultModulePath() : options.Positionals().front();
  Apartment apartment;
  RegisterModule(module);
  std::printf("registered %s\n", module.c_str());
  return 0;
}

int UnregisterCommand(const Arguments& arguments) {
  const ParsedOptions options = ParseOptions(arguments, {});
  if (options.Has("--help")) {
    std::fputs(HelpOf("unregister").c_str(), stdout);
    return 0;
  }
  if (options.Positionals().size() > 1) throw UsageError("more than one module");
  const std::string module = options.Positionals().empty() ? DefaultModulePath() : options.Positionals().front();
  Apartment apartment;
  UnregisterModule(module);
  std::printf("unregistered %s\n", module.c_str());
  return 0;
}

}  // namespace quillbox::host
