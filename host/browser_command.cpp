// quillbox browser SUBCOMMAND: each subcommand is one entry of the table.
#include "host/browser_install.h"
#include "host/cli.h"
#include "host/commands.h"

#include <cstdio>
#include <map>

namespace quillbox::host {

int BrowserCommand(const Arguments& arguments) {
  static const std::map<std::string, int (*)(const Arguments&)> kSubcommands = {
      {"install", BrowserInstallCommand},
      {"uninstall", BrowserUninstallCommand},
  };
  if (arguments.empty()) throw UsageError("no browser command given");
  if (arguments.front() == "--help") {
    std::fputs(HelpOf("browser").c_str(), stdout);
    return 0;
  }
  const auto found = kSubcommands.find(arguments.front());
  if (found == kSubcommands.end()) throw UsageError("unknown browser command " + arguments.front());
  return found->second(Arguments(arguments.begin() + 1, arguments.end()));
}

}  // namespace quillbox::host
